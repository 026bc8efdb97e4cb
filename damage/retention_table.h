#pragma once
// Per damage-state object, how many separate contacts each component has taken
// against its current stage.
#include <cstdint>

namespace fendrix {

inline constexpr unsigned kRetentionSlots = 12;
inline constexpr unsigned kRetentionEntries = 256;

struct RetentionSlot {
    std::uint32_t attempts = 0; // separate contacts counted against the stage
    std::uint32_t lastTick = 0; // GetTickCount of the last counted or merged call
    std::uint32_t stage = 0;    // the stage that attempts count against
    std::uint8_t active = 0;    // 1 once the slot has seen a delayed transition
};

struct RetentionEntry {
    const void* owner = nullptr; // null for a free entry
    std::uint64_t stamp = 0;     // use counter at the last use
    RetentionSlot slots[kRetentionSlots];
};

struct RetentionTable {
    RetentionEntry entries[kRetentionEntries];
    std::uint64_t useCounter = 0;

    // Empties every entry and restarts the use counter.
    void clear() {
        for (RetentionEntry& entry : entries) {
            entry = RetentionEntry{};
        }
        useCounter = 0;
    }
};

extern RetentionTable retentionTable;

} // namespace fendrix
