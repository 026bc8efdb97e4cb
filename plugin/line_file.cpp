#include "plugin/line_file.h"

namespace fendrix {

LineFile::~LineFile() {
    close();
}

void LineFile::setPath(const char* path) {
    close();
    std::snprintf(path_, sizeof path_, "%s", path != nullptr ? path : "");
}

void LineFile::write(const char* text) {
    if (path_[0] == '\0') {
        return;
    }
    std::FILE* file = open_;
    if (file == nullptr) {
        file = std::fopen(path_, "a");
        if (file == nullptr) {
            return;
        }
        if (batches_ > 0) {
            open_ = file;
        }
    }
    std::fprintf(file, "%s\n", text);
    if (file == open_) {
        std::fflush(file);
    } else {
        std::fclose(file);
    }
}

void LineFile::beginBatch() {
    ++batches_;
}

void LineFile::endBatch() {
    if (batches_ > 0 && --batches_ == 0) {
        close();
    }
}

void LineFile::close() {
    if (open_ != nullptr) {
        std::fclose(open_);
        open_ = nullptr;
    }
}

} // namespace fendrix
