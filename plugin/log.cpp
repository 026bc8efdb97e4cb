#include "plugin/log.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "plugin/paths.h"
#include "plugin/settings.h"

namespace fendrix {

namespace {

char gLogPath[kPathSize] = {};

// A plain aligned word: the crash handler reads it from any thread.
const char* volatile gPhase = "startup";

constexpr char kLineEnd[] = {'\r', '\n'};

} // namespace

void setLogPath(const char* path) {
    std::snprintf(gLogPath, sizeof gLogPath, "%s", path);
}

const char* logPath() {
    return gLogPath;
}

void logLine(const char* text) {
    if (gLogPath[0] == '\0') {
        return;
    }
    std::FILE* file = std::fopen(gLogPath, "a");
    if (file == nullptr) {
        return;
    }
    std::fprintf(file, "%s\n", text);
    std::fclose(file);
}

void phaseSet(const char* text) {
    gPhase = text;
}

const char* currentPhase() {
    return gPhase;
}

void phaseMarker(const char* text, bool force) {
    gPhase = text;
    if (!force && !settings.Diagnostics) {
        return;
    }
    if (gLogPath[0] == '\0') {
        return;
    }
    HANDLE file = CreateFileA(gLogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(file, kLineEnd, sizeof kLineEnd, &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

} // namespace fendrix
