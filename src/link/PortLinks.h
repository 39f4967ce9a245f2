#pragma once
// The comN links a technician maps ports with: which link a port number used
// or why it named nothing. Texts only; the front ends print them.

#include <QString>

// Where port `number` was looked for and what it named, in one line: the
// link and its target, or the folders searched and the numbered fallback.
QString portOriginText(int number, const QString &linkDirectory);

// Why port `number` names no existing device: a dangling comN link, or no
// link at all and no numbered fallback device either.
QString portMissingText(int number, const QString &linkDirectory);
