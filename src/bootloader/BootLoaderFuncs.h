#pragma once
// Boot-loader operations: wake-up, link re-synchronisation, identification
// and flash erase. They report through their results only.

#include <QString>

#include "link/Exchange.h"

class Link;
class UpdateView;

// "BL" CR three times to the running firmware; no answer is read. Port closed after.
void funEnterBootLoader(Link &link);

// 20 CRs, an empty data frame (outcome ignored), 20 CRs. Port closed after.
void funResyncLink(Link &link);

// Identify command; on acknowledgement sets chipName from the flash codes and
// returns true, leaving the 29-byte reply in RxBuffer.
bool funIdentify(Link &link, QString &chipName);

// Bytes from..from+count-1 of RxBuffer, each as the character of that code.
QString replyChars(const Link &link, int from, int count);

// The chip named by the hexadecimal manufacturer and device codes.
QString chipNameFor(const QString &manufacturer, const QString &device);

// Erase, waiting up to 25 s and appending "." to the status text whenever the
// clock's second changes. Port closed after.
CmdResult funEraseFlash(Link &link, UpdateView &statusBox);

inline constexpr int IdentifyTimeMs = 200;
inline constexpr int EraseTimeMs = 25000;
inline constexpr int ResyncTimeMs = 300;
