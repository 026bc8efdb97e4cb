#include "hook/trampoline_pool.h"

#include "hook/branch_encoding.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace hook {

void* TrampolinePool::allocate() {
    for (Block& block : blocks_) {
        if (block.inUse.all()) {
            continue;
        }
        for (std::size_t i = 0; i < kSlotsPerBlock; ++i) {
            if (!block.inUse[i]) {
                block.inUse.set(i);
                return block.base + kSlotSize * i;
            }
        }
    }
    // Trampolines may lie anywhere: a 32-bit rel32 reaches the whole address space.
    void* memory =
        VirtualAlloc(nullptr, kBlockSize, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* base = static_cast<std::uint8_t*>(memory);
    std::memset(base, kInt3, kBlockSize);
    try {
        blocks_.push_back({base, {}});
    } catch (const std::bad_alloc&) {
        VirtualFree(memory, 0, MEM_RELEASE);
        return nullptr;
    }
    blocks_.back().inUse.set(0);
    return base;
}

void TrampolinePool::release(void* slot) {
    auto* bytes = static_cast<std::uint8_t*>(slot);
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
        if (bytes < it->base || bytes >= it->base + kBlockSize) {
            continue;
        }
        it->inUse.reset(static_cast<std::size_t>(bytes - it->base) / kSlotSize);
        if (it->inUse.none()) {
            VirtualFree(it->base, 0, MEM_RELEASE);
            blocks_.erase(it);
        } else {
            // Anything still jumping here traps instead of running stale code.
            std::memset(bytes, kInt3, kSlotSize);
        }
        return;
    }
}

void TrampolinePool::releaseAll() {
    for (const Block& block : blocks_) {
        VirtualFree(block.base, 0, MEM_RELEASE);
    }
    blocks_.clear();
}

} // namespace hook
