#pragma once
// Reads the fuzzer's bytes as floats and flags; past the end everything reads 0.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace fuzzinput {

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    float number() {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) {
            bits |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Stops the run with a message; libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

} // namespace fuzzinput
