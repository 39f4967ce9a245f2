#pragma once
// torvex-flash IMAGE: the image checked, the port proven, the update run,
// and its end told on standard error and in the run's record.

class RunRecord;
class StopSignals;
struct Configuration;
struct Options;

int update(const Options &opts, const Configuration &config, StopSignals &stops, RunRecord &record);
