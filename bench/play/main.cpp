// The crash bench: plays a scenario file on the real FendrixVC.asi in the
// testbed and writes its log, pictures, meshes and summary.csv.
//   bench SCENARIO [--ini INI] [--out DIR]
// Exit codes: 0 done; 1 the plug-in or an output failed; 2 the command line
// or the scenario is wrong (nothing ran).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/play/scenario_player.h"
#include "bench/scenario.h"

namespace {

constexpr int kUsageError = 2;

int usage(const char* why) {
    std::fprintf(stderr, "bench: %s\nusage: bench SCENARIO [--ini INI] [--out DIR]\n", why);
    return kUsageError;
}

} // namespace

int main(int argc, char** argv) {
    std::string scenarioPath;
    bench::PlayOptions options;
    options.outDir = "bench-out";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--ini" || arg == "--out") && i + 1 < argc) {
            (arg == "--ini" ? options.iniPath : options.outDir) = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return usage(("unknown option " + arg).c_str());
        } else if (scenarioPath.empty()) {
            scenarioPath = arg;
        } else {
            return usage("one scenario at a time");
        }
    }
    if (scenarioPath.empty()) {
        return usage("no scenario file");
    }
    std::ifstream in(scenarioPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read the file\n", scenarioPath.c_str());
        return kUsageError;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const bench::ParseResult parsed = bench::parseScenario(text.str(), scenarioPath);
    if (!parsed.scenario) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return kUsageError;
    }
    return bench::playScenario(*parsed.scenario, options);
}
