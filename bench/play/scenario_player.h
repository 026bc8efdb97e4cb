#pragma once
// Plays a parsed scenario on the real plug-in in the testbed and writes what
// it did: the log, pictures and meshes of every car, and summary.csv.
#include <string>

#include "bench/scenario.h"

namespace bench {

struct PlayOptions {
    std::string iniPath; // empty: the shipped INI beside the program
    std::string outDir;  // created as needed
};

// 0 when the scenario played and everything was written; 1 otherwise, with
// the reason on standard error.
int playScenario(const Scenario& scenario, const PlayOptions& options);

} // namespace bench
