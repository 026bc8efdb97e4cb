#pragma once
// Executable memory for hand-written routines in the hook engine's tests.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace hooktest {

class CodeBuffer {
  public:
    static constexpr std::size_t kSize = 4096;
    static constexpr std::size_t kAlignment = 16;
    static constexpr std::uint8_t kFill = 0xCC; // int3 between routines

    CodeBuffer()
        : base_(static_cast<std::uint8_t*>(
              VirtualAlloc(nullptr, kSize, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE))) {
        if (base_ != nullptr) {
            std::memset(base_, kFill, kSize);
        }
    }
    ~CodeBuffer() {
        if (base_ != nullptr) {
            VirtualFree(base_, 0, MEM_RELEASE);
        }
    }
    CodeBuffer(const CodeBuffer&) = delete;
    CodeBuffer& operator=(const CodeBuffer&) = delete;

    std::uint8_t* base() const { return base_; }

    // Places `bytes` at the next aligned position and returns where.
    std::uint8_t* put(const std::vector<std::uint8_t>& bytes) {
        used_ = (used_ + kAlignment - 1) / kAlignment * kAlignment;
        std::uint8_t* at = base_ + used_;
        std::memcpy(at, bytes.data(), bytes.size());
        used_ += bytes.size();
        return at;
    }

  private:
    std::uint8_t* base_;
    std::size_t used_ = 0;
};

// A cdecl routine that returns its argument plus 7:
// push ebp; mov ebp,esp; mov eax,[ebp+8]; add eax,7; pop ebp; ret
inline const std::vector<std::uint8_t>& addSevenRoutine() {
    static const std::vector<std::uint8_t> bytes = {0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08,
                                                    0x83, 0xC0, 0x07, 0x5D, 0xC3};
    return bytes;
}
// A routine that only returns: a detour.
inline const std::vector<std::uint8_t>& returnRoutine() {
    static const std::vector<std::uint8_t> bytes = {0xC3};
    return bytes;
}

// Writes the rel32 field at `field` so that the branch ending at `field + 4` reaches `target`.
inline void setRel32(std::uint8_t* field, const void* target) {
    const auto end = reinterpret_cast<std::uintptr_t>(field) + sizeof(std::int32_t);
    const auto rel = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(target) - end);
    std::memcpy(field, &rel, sizeof rel);
}

inline std::vector<std::uint8_t> bytesAt(const void* at, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(at);
    return {p, p + size};
}

} // namespace hooktest
