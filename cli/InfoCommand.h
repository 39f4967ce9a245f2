#pragma once
// torvex-flash --info: what an image holds and whether it would be accepted,
// without sending anything.

struct Options;

int showInfo(const Options &opts);
