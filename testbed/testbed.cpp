#include "testbed/testbed.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "testbed/keyboard.h"

namespace testbed {

namespace fs = std::filesystem;

namespace {

bool gSessionOpen = false;
constexpr char kKeepDirVariable[] = "FENDRIX_KEEP_GAME_DIR";

std::string makeGameDir() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    for (unsigned attempt = 0;; ++attempt) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sfendrix-game-%lu-%lu-%u\\", temp, GetCurrentProcessId(),
                      GetTickCount(), attempt);
        if (CreateDirectoryA(name, nullptr)) {
            return name;
        }
    }
}

} // namespace

Testbed::Testbed() {
    if (gSessionOpen) {
        std::fprintf(stderr, "testbed: one session per process (run tests one per process)\n");
        std::abort();
    }
    gSessionOpen = true;
    installGame();
    gameDir_ = makeGameDir();
}

Testbed::~Testbed() {
    // The plug-in stays loaded (as in the game, where it lives until the
    // process ends); only the folder goes, unless kept for inspection.
    if (std::getenv(kKeepDirVariable) == nullptr) {
        std::error_code ignored;
        fs::remove_all(gameDir_, ignored);
    }
}

void Testbed::writeFile(const std::string& relativePath, const std::string& contents) const {
    const fs::path path = fs::path(gameDir_) / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

HMODULE Testbed::loadPlugin(const std::string& relativePath, const std::string& binary) {
    const std::string target = gameDir_ + relativePath;
    // A name that ends in a dot is loaded without one (LoadLibrary's rule for
    // files without an extension).
    std::string onDisk = target;
    if (!onDisk.empty() && onDisk.back() == '.') {
        onDisk.pop_back();
    }
    fs::create_directories(fs::path(onDisk).parent_path());
    if (!CopyFileA(binary.c_str(), onDisk.c_str(), FALSE)) {
        std::fprintf(stderr, "testbed: cannot copy %s (error %lu)\n", binary.c_str(),
                     GetLastError());
        return nullptr;
    }
    plugin_ = LoadLibraryA(target.c_str());
    if (plugin_ != nullptr) {
        feedKeyState(plugin_);
    }
    return plugin_;
}

std::string Testbed::readFile(const std::string& relativePath) const {
    std::ifstream in(fs::path(gameDir_) / relativePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Testbed::fileExists(const std::string& relativePath) const {
    return fs::exists(fs::path(gameDir_) / relativePath);
}

std::vector<LogLine> Testbed::log(const std::string& relativePath) const {
    const std::string text = readFile(relativePath);
    std::vector<LogLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        LogLine line;
        if (end == std::string::npos) {
            line.text = text.substr(start);
            start = text.size();
        } else {
            line.crlf = end > start && text[end - 1] == '\r';
            line.text = text.substr(start, end - start - (line.crlf ? 1 : 0));
            start = end + 1;
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Testbed::logTexts(const std::string& relativePath) const {
    std::vector<std::string> texts;
    for (const LogLine& line : log(relativePath)) {
        texts.push_back(line.text);
    }
    return texts;
}

std::string programDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string pluginBinary() {
    return programDir() + "FendrixVC.asi";
}

std::string quoted(const std::string& argument) {
    std::string text = "\"" + argument;
    for (auto it = argument.rbegin(); it != argument.rend() && *it == '\\'; ++it) {
        text += '\\';
    }
    return text + "\"";
}

int runProgram(const std::string& commandLine, ProgramOutput output) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    const bool handDown = output == ProgramOutput::HandedDown;
    if (handDown) {
        std::fflush(stdout);
        std::fflush(stderr);
        const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        HANDLE handles[std::size(kinds)] = {};
        for (std::size_t i = 0; i < std::size(kinds); ++i) {
            handles[i] = GetStdHandle(kinds[i]);
            if (handles[i] != nullptr && handles[i] != INVALID_HANDLE_VALUE) {
                // Fails for the console's own handles on old systems, which every
                // process of the console shares anyway.
                SetHandleInformation(handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
            }
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = handles[0];
        startup.hStdOutput = handles[1];
        startup.hStdError = handles[2];
    }
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, handDown ? TRUE : FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

} // namespace testbed
