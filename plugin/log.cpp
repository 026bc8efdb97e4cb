#include "plugin/log.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "plugin/line_file.h"
#include "plugin/paths.h"
#include "plugin/settings.h"
#include "plugin/stage_clock.h"

namespace fendrix {

namespace {

LineFile gLog;

// A plain aligned word: the crash handler reads it from any thread.
const char* volatile gPhase = "startup";

constexpr char kLineEnd[] = {'\r', '\n'};

} // namespace

void setLogPath(const char* path) {
    gLog.setPath(path);
}

const char* logPath() {
    return gLog.path();
}

void logLine(const char* text) {
    FX_STAGE(LogLines);
    gLog.write(text);
}

LogBatch::LogBatch() {
    gLog.beginBatch();
}

LogBatch::~LogBatch() {
    gLog.endBatch();
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
    if (logPath()[0] == '\0') {
        return;
    }
    HANDLE file = CreateFileA(logPath(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
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
