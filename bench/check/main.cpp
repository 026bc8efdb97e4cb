// Checks scenario files without playing them: the same parser the bench uses,
// built for the machine at hand, so a modder sees a scenario's errors even
// where the testbed cannot run.
//   scenario_check FILE...
// Exit codes: 0 every file is sound; 2 a file is wrong or cannot be read.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/scenario.h"

namespace {
constexpr int kScenarioError = 2;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scenario_check FILE...\n");
        return kScenarioError;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read the file\n", argv[i]);
            status = kScenarioError;
            continue;
        }
        std::ostringstream text;
        text << in.rdbuf();
        const bench::ParseResult parsed = bench::parseScenario(text.str(), argv[i]);
        if (!parsed.scenario) {
            std::fprintf(stderr, "%s\n", parsed.error.c_str());
            status = kScenarioError;
            continue;
        }
        std::printf("%s: %zu statements, %d frames\n", argv[i], parsed.scenario->events.size(),
                    parsed.scenario->frames);
    }
    return status;
}
