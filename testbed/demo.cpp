#include "testbed/demo.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "testbed/testbed.h"

namespace testbed {

namespace {

constexpr int kDemoFrames = 3;

std::string shippedIni() {
    std::ifstream in(programDir() + "FendrixVC.ini", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int runDemo() {
    Testbed session;
    session.writeIni(shippedIni());
    if (session.loadPlugin() == nullptr) {
        std::fprintf(stderr, "demo: the plug-in did not load\n");
        return 1;
    }
    for (int i = 0; i < kDemoFrames; ++i) {
        runGameFrame();
    }
    std::printf("== FendrixVC.log (game folder %s)\n", session.gameDir().c_str());
    for (const std::string& line : session.logTexts()) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("== %d frames ran; the game's own process routine ran %d times\n", kDemoFrames,
                game().gameProcessCalls);
    return 0;
}

} // namespace testbed
