#pragma once
// A text file that lines are appended to. Outside a batch each line opens and
// closes the file; inside one (a frame's work) the lines share one opening, as
// opening a file costs far more than writing a line. Either way every line
// reaches the operating system before write() returns, so a crash loses none,
// and the file's bytes are the same.
#include <cstdio>

#include "plugin/paths.h"

namespace fendrix {

class LineFile {
  public:
    LineFile() = default;
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    ~LineFile();

    // The file's path, cut to kPathSize - 1 characters. Closes a file a batch
    // holds open.
    void setPath(const char* path);
    const char* path() const { return path_; }

    // Appends text and a newline (CR LF on Windows). A file that cannot be
    // opened loses the line; the next line tries again.
    void write(const char* text);

    // Lines written until the matching endBatch share one opening. Batches nest.
    void beginBatch();
    void endBatch();

  private:
    void close();

    char path_[kPathSize] = {};
    std::FILE* open_ = nullptr; // held by a batch
    int batches_ = 0;
};

} // namespace fendrix
