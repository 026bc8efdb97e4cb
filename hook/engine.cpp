// The MinHook calls: hook table, create, enable, disable, remove.
#include "hook/minhook.h"

#include "hook/code_writer.h"
#include "hook/memory_query.h"
#include "hook/thread_freeze.h"
#include "hook/trampoline.h"
#include "hook/trampoline_pool.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <vector>

namespace {

struct Hook {
    std::uint8_t* target;
    void* detour;
    std::uint8_t* trampoline; // a pool slot holding layout.code
    hook::Trampoline layout;
    std::array<std::uint8_t, hook::kMaxPatchSize> original;
    bool enabled;
};

struct Engine {
    bool initialized = false;
    std::vector<Hook> hooks;
    hook::TrampolinePool pool;
};

Engine g_engine;
SRWLOCK g_lock = SRWLOCK_INIT;

class EngineLock {
  public:
    EngineLock() { AcquireSRWLockExclusive(&g_lock); }
    ~EngineLock() { ReleaseSRWLockExclusive(&g_lock); }
    EngineLock(const EngineLock&) = delete;
    EngineLock& operator=(const EngineLock&) = delete;
};

std::uint32_t address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

Hook* find(void* target) {
    for (Hook& h : g_engine.hooks) {
        if (h.target == target) {
            return &h;
        }
    }
    return nullptr;
}

// A thread stopped among bytes about to be patched goes on at the same
// instruction in the trampoline.
class IntoTrampolines final : public hook::InstructionPointerMap {
  public:
    explicit IntoTrampolines(std::span<Hook* const> hooks) : hooks_(hooks) {}
    std::uintptr_t map(std::uintptr_t eip) const override {
        for (const Hook* h : hooks_) {
            const std::uintptr_t offset = eip - reinterpret_cast<std::uintptr_t>(h->target);
            if (offset < h->layout.patchSize) {
                if (const auto moved = h->layout.trampolineOffsetOf(offset)) {
                    return reinterpret_cast<std::uintptr_t>(h->trampoline) + *moved;
                }
            }
        }
        return eip;
    }

  private:
    std::span<Hook* const> hooks_;
};

// A thread stopped in a trampoline goes on at the same instruction of the
// routine, which holds its own bytes again.
class OutOfTrampolines final : public hook::InstructionPointerMap {
  public:
    explicit OutOfTrampolines(std::span<Hook* const> hooks) : hooks_(hooks) {}
    std::uintptr_t map(std::uintptr_t eip) const override {
        for (const Hook* h : hooks_) {
            const std::uintptr_t offset = eip - reinterpret_cast<std::uintptr_t>(h->trampoline);
            if (offset < h->layout.size) {
                if (const auto moved = h->layout.sourceOffsetOf(offset)) {
                    return reinterpret_cast<std::uintptr_t>(h->target) + *moved;
                }
            }
        }
        return eip;
    }

  private:
    std::span<Hook* const> hooks_;
};

bool writePatch(Hook& h, bool enable) {
    const auto patch = hook::patchBytes(address(h.target), address(h.detour));
    const std::uint8_t* bytes = enable ? patch.data() : h.original.data();
    if (!hook::writeCode(h.target, bytes, h.layout.patchSize)) {
        return false;
    }
    h.enabled = enable;
    return true;
}

// Enables or disables the hooks listed, all threads held; on a failure the
// hooks before it stay changed, as with MinHook.
MH_STATUS switchHooks(std::span<Hook* const> hooks, bool enable) {
    hook::ThreadFreeze freeze;
    if (!freeze.held()) {
        return MH_ERROR_MEMORY_ALLOC;
    }
    std::size_t done = 0;
    while (done < hooks.size() && writePatch(*hooks[done], enable)) {
        ++done;
    }
    const auto changed = hooks.first(done);
    if (enable) {
        freeze.moveInstructionPointers(IntoTrampolines(changed));
    } else {
        freeze.moveInstructionPointers(OutOfTrampolines(changed));
    }
    return done == hooks.size() ? MH_OK : MH_ERROR_MEMORY_PROTECT;
}

MH_STATUS setEnabled(void* target, bool enable) {
    EngineLock lock;
    if (!g_engine.initialized) {
        return MH_ERROR_NOT_INITIALIZED;
    }
    std::vector<Hook*> changing;
    try {
        if (target == MH_ALL_HOOKS) {
            for (Hook& h : g_engine.hooks) {
                if (h.enabled != enable) {
                    changing.push_back(&h);
                }
            }
        } else {
            Hook* h = find(target);
            if (h == nullptr) {
                return MH_ERROR_NOT_CREATED;
            }
            if (h->enabled == enable) {
                return enable ? MH_ERROR_ENABLED : MH_ERROR_DISABLED;
            }
            changing.push_back(h);
        }
    } catch (const std::bad_alloc&) {
        return MH_ERROR_MEMORY_ALLOC;
    }
    if (changing.empty()) {
        return MH_OK;
    }
    return switchHooks(changing, enable);
}

} // namespace

MH_STATUS WINAPI MH_Initialize(VOID) {
    EngineLock lock;
    if (g_engine.initialized) {
        return MH_ERROR_ALREADY_INITIALIZED;
    }
    g_engine.initialized = true;
    return MH_OK;
}

MH_STATUS WINAPI MH_Uninitialize(VOID) {
    EngineLock lock;
    if (!g_engine.initialized) {
        return MH_ERROR_NOT_INITIALIZED;
    }
    std::vector<Hook*> all;
    try {
        all.reserve(g_engine.hooks.size());
    } catch (const std::bad_alloc&) {
        return MH_ERROR_MEMORY_ALLOC;
    }
    bool restored = true;
    {
        hook::ThreadFreeze freeze;
        if (!freeze.held()) {
            return MH_ERROR_MEMORY_ALLOC;
        }
        for (Hook& h : g_engine.hooks) {
            if (h.enabled && !writePatch(h, false)) {
                restored = false;
                continue;
            }
            all.push_back(&h);
        }
        freeze.moveInstructionPointers(OutOfTrampolines(all));
    }
    if (!restored) {
        return MH_ERROR_MEMORY_PROTECT;
    }
    g_engine.pool.releaseAll();
    g_engine.hooks.clear();
    g_engine.initialized = false;
    return MH_OK;
}

MH_STATUS WINAPI MH_CreateHook(LPVOID pTarget, LPVOID pDetour, LPVOID* ppOriginal) {
    EngineLock lock;
    if (!g_engine.initialized) {
        return MH_ERROR_NOT_INITIALIZED;
    }
    if (!hook::isExecutable(pTarget) || !hook::isExecutable(pDetour)) {
        return MH_ERROR_NOT_EXECUTABLE;
    }
    if (find(pTarget) != nullptr) {
        return MH_ERROR_ALREADY_CREATED;
    }
    auto* slot = static_cast<std::uint8_t*>(g_engine.pool.allocate());
    if (slot == nullptr) {
        return MH_ERROR_MEMORY_ALLOC;
    }
    Hook h{};
    h.target = static_cast<std::uint8_t*>(pTarget);
    h.detour = pDetour;
    h.trampoline = slot;
    const std::size_t readable = hook::readableLength(pTarget, hook::kMaxPatchSize);
    if (hook::buildTrampoline({h.target, readable}, address(h.target), address(slot), h.layout) !=
        hook::Refusal::None) {
        g_engine.pool.release(slot);
        return MH_ERROR_UNSUPPORTED_FUNCTION;
    }
    std::memcpy(slot, h.layout.code.data(), h.layout.size);
    FlushInstructionCache(GetCurrentProcess(), slot, h.layout.size);
    std::memcpy(h.original.data(), h.target, h.layout.patchSize);
    try {
        g_engine.hooks.push_back(h);
    } catch (const std::bad_alloc&) {
        g_engine.pool.release(slot);
        return MH_ERROR_MEMORY_ALLOC;
    }
    if (ppOriginal != nullptr) {
        *ppOriginal = slot;
    }
    return MH_OK;
}

MH_STATUS WINAPI MH_RemoveHook(LPVOID pTarget) {
    EngineLock lock;
    if (!g_engine.initialized) {
        return MH_ERROR_NOT_INITIALIZED;
    }
    Hook* h = find(pTarget);
    if (h == nullptr) {
        return MH_ERROR_NOT_CREATED;
    }
    {
        // Also when already disabled: a thread may still be in the trampoline.
        hook::ThreadFreeze freeze;
        if (!freeze.held()) {
            return MH_ERROR_MEMORY_ALLOC;
        }
        if (h->enabled && !writePatch(*h, false)) {
            return MH_ERROR_MEMORY_PROTECT;
        }
        Hook* const removed[] = {h};
        freeze.moveInstructionPointers(OutOfTrampolines(removed));
    }
    g_engine.pool.release(h->trampoline);
    g_engine.hooks.erase(g_engine.hooks.begin() + (h - g_engine.hooks.data()));
    return MH_OK;
}

MH_STATUS WINAPI MH_EnableHook(LPVOID pTarget) {
    return setEnabled(pTarget, true);
}

MH_STATUS WINAPI MH_DisableHook(LPVOID pTarget) {
    return setEnabled(pTarget, false);
}
