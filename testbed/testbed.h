#pragma once
// One game session of the testbed: a fresh game folder with the real plug-in
// binary and an INI, the game installed at the host's addresses, and the
// plug-in loaded as a loader does. One session per process: the plug-in's
// start-up runs once, like in the game.
#include <windows.h>

#include <string>
#include <vector>

#include "testbed/game.h"

namespace testbed {

// The plug-in binary built beside the testbed programs.
std::string pluginBinary();

struct LogLine {
    std::string text;
    bool crlf = false; // the line ended with CR LF
};

class Testbed {
  public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // The game folder, ending in a backslash.
    const std::string& gameDir() const { return gameDir_; }

    // Writes a file into the game folder (folders are created as needed).
    void writeFile(const std::string& relativePath, const std::string& contents) const;
    void writeIni(const std::string& text,
                  const std::string& relativePath = "FendrixVC.ini") const {
        writeFile(relativePath, text);
    }
    // Copies the plug-in binary (FendrixVC.asi unless another is named) into
    // the game folder under this name and loads it with LoadLibraryA, which
    // runs its start-up. Null when loading failed.
    HMODULE loadPlugin(const std::string& relativePath = "FendrixVC.asi",
                       const std::string& binary = pluginBinary());
    HMODULE plugin() const { return plugin_; }

    std::string readFile(const std::string& relativePath) const;
    bool fileExists(const std::string& relativePath) const;
    std::vector<LogLine> log(const std::string& relativePath = "FendrixVC.log") const;
    std::vector<std::string> logTexts(const std::string& relativePath = "FendrixVC.log") const;

  private:
    std::string gameDir_;
    HMODULE plugin_ = nullptr;
};

// The folder of the running program, ending in a backslash.
std::string programDir();
// One command-line argument in quotes; trailing backslashes are doubled so the
// closing quote stays a quote.
std::string quoted(const std::string& argument);
// Where a program started by runProgram writes.
enum class ProgramOutput {
    Own,        // its own handles (a console's, or none)
    HandedDown, // this program's standard handles, so that output redirected
                // to a file or a pipe gets the other program's too
};
// Runs a program to its end; its exit code, or -1 when it could not start.
int runProgram(const std::string& commandLine, ProgramOutput output = ProgramOutput::Own);

} // namespace testbed
