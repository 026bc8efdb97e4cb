#pragma once
// The plug-in's log: plain lines through the C runtime, phase markers through
// the operating system's file calls (flushed, so the last one survives a crash).
#include <cstddef>

#include "plugin/format.h"
#include "plugin/stage_clock.h"

namespace fendrix {

// Remembers where the log lives; written once at start-up.
void setLogPath(const char* path);
const char* logPath();

// Appends one line (text mode: the newline becomes CR LF). A log that cannot
// be opened loses the line.
void logLine(const char* text);

// For its lifetime the log's lines share one opening of the file (a frame's
// lines); each line still reaches the operating system as it is written.
class LogBatch {
  public:
    LogBatch();
    ~LogBatch();
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;
};

// Formats into a buffer of Size bytes (cut and always terminated), then logs it.
template <std::size_t Size, typename... Args> void logFormat(const char* format, Args... args) {
    FX_STAGE(LogLines);
    char buffer[Size];
    formatBounded(buffer, sizeof buffer, format, args...);
    logLine(buffer);
}

// Sets the current phase; writes it to the log when forced or with Diagnostics on.
void phaseMarker(const char* text, bool force = false);
// Sets the current phase without writing anything.
void phaseSet(const char* text);
// The current phase, read by the crash handler without a lock.
const char* currentPhase();

} // namespace fendrix
