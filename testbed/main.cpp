// The testbed program: plays the game towards the real plug-in binary.
//   testbed --game-dir DIR [--module NAME] [--frames N]
//                                one start of the game in an existing folder
// (The demo is a scenario of the crash bench: scripts/demo.)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/addresses.h"
#include "testbed/game.h"
#include "testbed/host_image.h"

namespace {

struct Options {
    std::string gameDir;
    std::string module = "FendrixVC.asi";
    int frames = 1;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--game-dir") == 0) {
            options.gameDir = argv[i + 1];
        } else if (std::strcmp(argv[i], "--module") == 0) {
            options.module = argv[i + 1];
        } else if (std::strcmp(argv[i], "--frames") == 0) {
            options.frames = std::atoi(argv[i + 1]);
        }
    }
    return options;
}

// One start of the game with the plug-in already in its folder.
int startOnce(const Options& options) {
    std::string dir = options.gameDir;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') {
        dir += '\\';
    }
    // Only an image at the game's base covers the host range; at any other
    // base the game cannot be laid out, and the plug-in must notice that.
    const bool hostLayout =
        reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) == host::addr::kImageBase;
    if (hostLayout) {
        testbed::installGame();
    }
    if (LoadLibraryA((dir + options.module).c_str()) == nullptr) {
        std::fprintf(stderr, "testbed: cannot load %s%s (error %lu)\n", dir.c_str(),
                     options.module.c_str(), GetLastError());
        return 2;
    }
    if (hostLayout) {
        for (int i = 0; i < options.frames; ++i) {
            testbed::runGameFrame();
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    if (options.gameDir.empty()) {
        std::fprintf(stderr, "usage: testbed --game-dir DIR [--module NAME] [--frames N]\n");
        return 2;
    }
    return startOnce(options);
}
