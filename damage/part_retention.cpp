#include "damage/part_retention.h"

#include <windows.h>

#include "contacts/contact_capture.h"
#include "damage/retention_table.h"
#include "host/game.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace fendrix {

RetentionTable retentionTable;
void* retainDamageOriginal = nullptr;
void* forgetRetentionOriginal = nullptr;

namespace {

using ApplyFn = std::uint8_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX, std::int32_t, float,
                                         float);
using ForgetFn = std::uint32_t(FX_MEMBER*)(host::DamageState*, FX_MEMBER_EDX);

// Host component ids.
constexpr std::int32_t kFirstDoor = 5;
constexpr std::int32_t kLastDoor = 10;
constexpr std::int32_t kFirstPanel = 11;
constexpr std::int32_t kLastPanel = 14;
constexpr std::int32_t kFirstUpperPart = 16; // 16 and 17, with a gap after 14
constexpr std::int32_t kLastUpperPart = 17;
constexpr unsigned kUpperPartFirstSlot = 10;
constexpr unsigned kUpperPartFirstBit = 20;
constexpr unsigned kBitsPerPart = 4;
constexpr std::uint32_t kPartMask = 0xF;
constexpr std::uint32_t kSameContactMs = 751; // closer calls belong to one contact
constexpr std::uint32_t kPanelDelayedStage = 2;
constexpr std::size_t kLineSize = 160;

enum class Kind { None, Door, Part };

struct Component {
    Kind kind = Kind::None;
    unsigned slot = 0;
    unsigned bit = 0; // first bit in the status word (parts)
};

Component componentOf(std::int32_t id) {
    if (id >= kFirstDoor && id <= kLastDoor) {
        return {Kind::Door, static_cast<unsigned>(id - kFirstDoor), 0};
    }
    if (id >= kFirstPanel && id <= kLastPanel) {
        const unsigned index = static_cast<unsigned>(id - kFirstPanel);
        return {Kind::Part, static_cast<unsigned>(kLastDoor - kFirstDoor + 1) + index,
                kBitsPerPart * index};
    }
    if (id >= kFirstUpperPart && id <= kLastUpperPart) {
        const unsigned index = static_cast<unsigned>(id - kFirstUpperPart);
        return {Kind::Part, kUpperPartFirstSlot + index, kUpperPartFirstBit + kBitsPerPart * index};
    }
    return {};
}

std::uint32_t statusOf(host::DamageState* object, std::int32_t id, const Component& c) {
    if (c.kind == Kind::Door) {
        return game::getDoorStatus(object, id - kFirstDoor);
    }
    return (object->panelStatus >> c.bit) & kPartMask;
}

void setStatus(host::DamageState* object, std::int32_t id, const Component& c,
               std::uint32_t status) {
    if (c.kind == Kind::Door) {
        game::setDoorStatus(object, id - kFirstDoor, status);
        return;
    }
    object->panelStatus =
        (object->panelStatus & ~(kPartMask << c.bit)) | ((status & kPartMask) << c.bit);
}

bool eligible(const Component& c, std::uint32_t before, std::uint32_t after) {
    if (c.kind == Kind::Door) {
        return (before == 1 || before == 2) && after == before + 1;
    }
    return before == kPanelDelayedStage && after == kPanelDelayedStage + 1;
}

RetentionEntry& entryFor(const void* object) {
    RetentionTable& table = retentionTable;
    for (RetentionEntry& entry : table.entries) {
        if (entry.owner == object) {
            entry.stamp = ++table.useCounter;
            return entry;
        }
    }
    // The least recently used entry; free entries (stamp 0) come first.
    RetentionEntry* oldest = &table.entries[0];
    for (RetentionEntry& entry : table.entries) {
        if (entry.stamp < oldest->stamp) {
            oldest = &entry;
        }
    }
    *oldest = RetentionEntry{};
    oldest->owner = object;
    oldest->stamp = ++table.useCounter;
    return *oldest;
}

} // namespace

std::uint8_t FX_MEMBER retainDamage(host::DamageState* self, FX_MEMBER_EDX edx,
                                    std::int32_t component, float a, float b) {
    const auto original = reinterpret_cast<ApplyFn>(retainDamageOriginal);
    const Component c = componentOf(component);
    if (c.kind == Kind::None || shutdownInProgress || !settings.PartRetentionEnabled) {
        return original(self, edx, component, a, b);
    }
    const std::uint32_t before = statusOf(self, component, c);
    const std::uint8_t result = original(self, edx, component, a, b);
    const std::uint32_t after = statusOf(self, component, c);

    RetentionSlot& slot = entryFor(self).slots[c.slot];
    const std::uint32_t previous = slot.attempts;
    const std::uint32_t now = GetTickCount();
    int held = 0;
    if (before == 0) {
        slot = RetentionSlot{};
    } else if (eligible(c, before, after) && settings.AttemptsPerStage >= 2) {
        if (slot.stage != before) {
            slot.stage = before;
            slot.attempts = 0;
        }
        // Unsigned difference: the tick counter's wrap is harmless.
        if (!(slot.active != 0 && now - slot.lastTick < kSameContactMs)) {
            ++slot.attempts;
        }
        slot.active = 1;
        slot.lastTick = now;
        if (slot.attempts < settings.AttemptsPerStage) {
            setStatus(self, component, c, before);
            held = 1;
        }
    }
    if (settings.LogHits && after > before && slot.attempts != previous) {
        logFormat<kLineSize>("PartRetention: component=%d stage=%u->%u attempt=%u/%u held=%d",
                             static_cast<int>(component), static_cast<unsigned>(before),
                             static_cast<unsigned>(after), static_cast<unsigned>(slot.attempts),
                             static_cast<unsigned>(settings.AttemptsPerStage), held);
    }
    return result;
}

std::uint32_t FX_MEMBER forgetRetention(host::DamageState* self, FX_MEMBER_EDX edx) {
    for (RetentionEntry& entry : retentionTable.entries) {
        if (entry.owner == self) {
            entry = RetentionEntry{};
        }
    }
    return reinterpret_cast<ForgetFn>(forgetRetentionOriginal)(self, edx);
}

} // namespace fendrix
