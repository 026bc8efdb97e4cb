// Every status of the MinHook calls, as MinHook defines them, and the texts.
#include "hook/hook_api.h"
#include "host/compiler.h"

#include "hook_code_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

using hooktest::bytesAt;
using hooktest::CodeBuffer;

const std::vector<std::uint8_t>& kRoutine = hooktest::addSevenRoutine();
const std::vector<std::uint8_t>& kReturn = hooktest::returnRoutine();
constexpr std::size_t kPage = 4096;

class HookStatus : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(MH_Initialize(), MH_OK);
        target = buffer.put(kRoutine);
        detour = buffer.put(kReturn);
    }
    void TearDown() override { EXPECT_EQ(MH_Uninitialize(), MH_OK); }

    CodeBuffer buffer;
    std::uint8_t* target = nullptr;
    std::uint8_t* detour = nullptr;
};

TEST(HookStatusUninitialized, EveryCallBeforeInitializeReportsNotInitialized) {
    CodeBuffer buffer;
    std::uint8_t* target = buffer.put(kRoutine);
    std::uint8_t* detour = buffer.put(kReturn);
    EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_DisableHook(target), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_Uninitialize(), MH_ERROR_NOT_INITIALIZED);
}

TEST(HookStatusUninitialized, InitializeTwiceThenAgainAfterUninitialize) {
    EXPECT_EQ(MH_Initialize(), MH_OK);
    EXPECT_EQ(MH_Initialize(), MH_ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(MH_Uninitialize(), MH_OK);
    EXPECT_EQ(MH_Uninitialize(), MH_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(MH_Initialize(), MH_OK);
    EXPECT_EQ(MH_Uninitialize(), MH_OK);
}

// Memory of a given protection, freed at the end.
class Region {
  public:
    explicit Region(DWORD protection)
        : base_(VirtualAlloc(nullptr, kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) {
        std::memcpy(base_, kRoutine.data(), kRoutine.size());
        DWORD previous = 0;
        VirtualProtect(base_, kPage, protection, &previous);
    }
    ~Region() { VirtualFree(base_, 0, MEM_RELEASE); }
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;
    void* get() const { return base_; }

  private:
    void* base_;
};

TEST_F(HookStatus, TargetOrDetourOutsideExecutableMemory) {
    Region data(PAGE_READWRITE);
    Region readOnly(PAGE_READONLY);
    Region noAccess(PAGE_NOACCESS);
    Region guarded(PAGE_EXECUTE_READ | PAGE_GUARD);
    int onTheStack = 0;
    const struct {
        const char* name;
        void* target;
        void* detour;
    } cases[] = {
        {"null target", nullptr, detour},
        {"target in data", data.get(), detour},
        {"target read-only", readOnly.get(), detour},
        {"target no access", noAccess.get(), detour},
        {"target guard page", guarded.get(), detour},
        {"target on the stack", &onTheStack, detour},
        {"null detour", target, nullptr},
        {"detour in data", target, data.get()},
    };
    for (const auto& c : cases) {
        void* original = &onTheStack;
        EXPECT_EQ(MH_CreateHook(c.target, c.detour, &original), MH_ERROR_NOT_EXECUTABLE) << c.name;
        EXPECT_EQ(original, &onTheStack) << c.name << ": no trampoline handed out";
    }
    EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK) << "nothing was left behind";
}

TEST_F(HookStatus, CreateTwiceOnOneTarget) {
    ASSERT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK);
    EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_ERROR_ALREADY_CREATED);
    EXPECT_EQ(MH_CreateHook(target, target, nullptr), MH_ERROR_ALREADY_CREATED);
    ASSERT_EQ(MH_RemoveHook(target), MH_OK);
    EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK) << "created again after removal";
}

TEST_F(HookStatus, CallsOnATargetWithoutHook) {
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(MH_DisableHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(MH_RemoveHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(MH_RemoveHook(MH_ALL_HOOKS), MH_ERROR_NOT_CREATED);
}

TEST_F(HookStatus, EnableAndDisableTwice) {
    ASSERT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK);
    EXPECT_EQ(MH_DisableHook(target), MH_ERROR_DISABLED) << "created hooks start disabled";
    EXPECT_EQ(MH_EnableHook(target), MH_OK);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_ENABLED);
    EXPECT_EQ(MH_DisableHook(target), MH_OK);
    EXPECT_EQ(MH_DisableHook(target), MH_ERROR_DISABLED);
}

TEST_F(HookStatus, RoutinesThatCannotBeMoved) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> code;
    } cases[] = {
        {"ret first", {0xC3, 0xCC, 0xCC, 0xCC, 0xCC}},
        {"xor eax,eax; ret", {0x33, 0xC0, 0xC3, 0xCC, 0xCC}},
        {"jmp eax", {0xFF, 0xE0, 0xCC, 0xCC, 0xCC}},
        {"int3", {0xCC, 0x55, 0x8B, 0xEC, 0x90}},
        {"loop", {0xE2, 0x10, 0x90, 0x90, 0x90}},
        {"jmp to itself", {0xEB, 0xFE, 0xCC, 0xCC, 0xCC}},
        {"code after a short jmp", {0xEB, 0x10, 0x8B, 0xC1, 0xC3}},
    };
    for (const auto& c : cases) {
        std::uint8_t* routine = buffer.put(c.code);
        const auto pristine = bytesAt(routine, c.code.size());
        EXPECT_EQ(MH_CreateHook(routine, detour, nullptr), MH_ERROR_UNSUPPORTED_FUNCTION) << c.name;
        EXPECT_EQ(MH_EnableHook(routine), MH_ERROR_NOT_CREATED) << c.name << ": nothing created";
        EXPECT_EQ(bytesAt(routine, c.code.size()), pristine) << c.name;
    }
}

TEST_F(HookStatus, RoutineWhoseBytesEndBeforeFive) {
    // push ebp; mov ebp,esp at the very end of executable memory, nothing after it.
    auto* pages =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(VirtualAlloc(pages, kPage, MEM_COMMIT, PAGE_EXECUTE_READWRITE), nullptr);
    std::uint8_t* routine = pages + kPage - 3;
    std::memcpy(routine, kRoutine.data(), 3);
    EXPECT_EQ(MH_CreateHook(routine, detour, nullptr), MH_ERROR_UNSUPPORTED_FUNCTION);
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(HookStatus, PatchingMemoryWhoseProtectionCannotChange) {
    auto* page = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, kPage, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    std::memcpy(page, kRoutine.data(), kRoutine.size());
    ASSERT_EQ(MH_CreateHook(page, detour, nullptr), MH_OK);

    // Decommitted memory refuses VirtualProtect.
    ASSERT_TRUE(VirtualFree(page, kPage, MEM_DECOMMIT));
    EXPECT_EQ(MH_EnableHook(page), MH_ERROR_MEMORY_PROTECT);
    EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_ERROR_MEMORY_PROTECT);

    ASSERT_NE(VirtualAlloc(page, kPage, MEM_COMMIT, PAGE_EXECUTE_READWRITE), nullptr);
    std::memcpy(page, kRoutine.data(), kRoutine.size());
    EXPECT_EQ(MH_EnableHook(page), MH_OK) << "the failed enable left the hook disabled";

    ASSERT_TRUE(VirtualFree(page, kPage, MEM_DECOMMIT));
    EXPECT_EQ(MH_DisableHook(page), MH_ERROR_MEMORY_PROTECT);
    EXPECT_EQ(MH_RemoveHook(page), MH_ERROR_MEMORY_PROTECT);
    EXPECT_EQ(MH_Uninitialize(), MH_ERROR_MEMORY_PROTECT);

    ASSERT_NE(VirtualAlloc(page, kPage, MEM_COMMIT, PAGE_EXECUTE_READWRITE), nullptr);
    EXPECT_EQ(MH_RemoveHook(page), MH_OK) << "the hook stayed until it could be restored";
    // The page came back zeroed; the removal wrote the patched bytes (whole
    // instructions covering the jump) back from the saved copy.
    constexpr std::size_t kPatchedBytes = 6; // push ebp; mov ebp,esp; mov eax,[ebp+8]
    EXPECT_EQ(bytesAt(page, kPatchedBytes),
              std::vector<std::uint8_t>(kRoutine.begin(), kRoutine.begin() + kPatchedBytes));
    VirtualFree(page, 0, MEM_RELEASE);
}

TEST(HookStatusMemory, CreateWithoutMemoryForATrampoline) {
    CodeBuffer buffer;
    std::uint8_t* target = buffer.put(kRoutine);
    std::uint8_t* detour = buffer.put(kReturn);
    ASSERT_EQ(MH_Initialize(), MH_OK); // holds no trampoline memory yet

    // Reserve the whole free address space, largest pieces first.
    constexpr std::size_t kLargest = std::size_t{1} << 30;
    constexpr std::size_t kGranule = 64 * 1024;
    constexpr std::size_t kMaxPieces = 1 << 16;
    std::vector<void*> reserved;
    reserved.reserve(kMaxPieces);
    for (std::size_t size = kLargest; size >= kGranule; size /= 2) {
        while (reserved.size() < kMaxPieces) {
            void* piece = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
            if (piece == nullptr) {
                break;
            }
            reserved.push_back(piece);
        }
    }
    const MH_STATUS starved = MH_CreateHook(target, detour, nullptr);
    for (void* piece : reserved) {
        VirtualFree(piece, 0, MEM_RELEASE);
    }
    EXPECT_EQ(starved, MH_ERROR_MEMORY_ALLOC);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK);
    EXPECT_EQ(MH_Uninitialize(), MH_OK);
}

TEST_F(HookStatus, AllHooksAtOnce) {
    std::uint8_t* targets[] = {target, buffer.put(kRoutine), buffer.put(kRoutine)};
    for (auto* t : targets) {
        ASSERT_EQ(MH_CreateHook(t, detour, nullptr), MH_OK);
    }
    EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
    for (auto* t : targets) {
        EXPECT_EQ(MH_EnableHook(t), MH_ERROR_ENABLED);
    }
    EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK) << "nothing left to enable is no error";
    EXPECT_EQ(MH_DisableHook(targets[1]), MH_OK);
    EXPECT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
    EXPECT_EQ(MH_EnableHook(targets[1]), MH_ERROR_ENABLED);
    EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_OK);
    for (auto* t : targets) {
        EXPECT_EQ(bytesAt(t, kRoutine.size()), kRoutine);
        EXPECT_EQ(MH_DisableHook(t), MH_ERROR_DISABLED);
    }
    EXPECT_EQ(MH_DisableHook(MH_ALL_HOOKS), MH_OK);
}

bool isFree(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_FREE;
}

TEST_F(HookStatus, RemoveFreesTheTrampoline) {
    std::uint8_t* second = buffer.put(kRoutine);
    void* firstTrampoline = nullptr;
    void* secondTrampoline = nullptr;
    ASSERT_EQ(MH_CreateHook(target, detour, &firstTrampoline), MH_OK);
    ASSERT_EQ(MH_CreateHook(second, detour, &secondTrampoline), MH_OK);
    using Routine = int(FX_CDECL*)(int);
    ASSERT_EQ(MH_RemoveHook(target), MH_OK);
    EXPECT_EQ(reinterpret_cast<Routine>(secondTrampoline)(5), 12) << "the other hook's survives";
    ASSERT_EQ(MH_EnableHook(second), MH_OK);
    ASSERT_EQ(MH_RemoveHook(second), MH_OK);
    EXPECT_EQ(bytesAt(second, kRoutine.size()), kRoutine);
    EXPECT_TRUE(isFree(firstTrampoline));
    EXPECT_TRUE(isFree(secondTrampoline));
}

TEST_F(HookStatus, UninitializeRestoresAndForgetsEverything) {
    std::uint8_t* second = buffer.put(kRoutine);
    void* trampoline = nullptr;
    ASSERT_EQ(MH_CreateHook(target, detour, &trampoline), MH_OK);
    ASSERT_EQ(MH_CreateHook(second, detour, nullptr), MH_OK);
    ASSERT_EQ(MH_EnableHook(MH_ALL_HOOKS), MH_OK);
    ASSERT_NE(bytesAt(target, kRoutine.size()), kRoutine);
    ASSERT_EQ(MH_Uninitialize(), MH_OK);
    EXPECT_EQ(bytesAt(target, kRoutine.size()), kRoutine);
    EXPECT_EQ(bytesAt(second, kRoutine.size()), kRoutine);
    EXPECT_TRUE(isFree(trampoline));
    ASSERT_EQ(MH_Initialize(), MH_OK);
    EXPECT_EQ(MH_EnableHook(target), MH_ERROR_NOT_CREATED);
    EXPECT_EQ(MH_CreateHook(target, detour, nullptr), MH_OK);
}

TEST(HookStatusText, NamesEveryEnumerator) {
    const struct {
        MH_STATUS status;
        const char* text;
    } cases[] = {
        {MH_UNKNOWN, "MH_UNKNOWN"},
        {MH_OK, "MH_OK"},
        {MH_ERROR_ALREADY_INITIALIZED, "MH_ERROR_ALREADY_INITIALIZED"},
        {MH_ERROR_NOT_INITIALIZED, "MH_ERROR_NOT_INITIALIZED"},
        {MH_ERROR_ALREADY_CREATED, "MH_ERROR_ALREADY_CREATED"},
        {MH_ERROR_NOT_CREATED, "MH_ERROR_NOT_CREATED"},
        {MH_ERROR_ENABLED, "MH_ERROR_ENABLED"},
        {MH_ERROR_DISABLED, "MH_ERROR_DISABLED"},
        {MH_ERROR_NOT_EXECUTABLE, "MH_ERROR_NOT_EXECUTABLE"},
        {MH_ERROR_UNSUPPORTED_FUNCTION, "MH_ERROR_UNSUPPORTED_FUNCTION"},
        {MH_ERROR_MEMORY_ALLOC, "MH_ERROR_MEMORY_ALLOC"},
        {MH_ERROR_MEMORY_PROTECT, "MH_ERROR_MEMORY_PROTECT"},
        {MH_ERROR_MODULE_NOT_FOUND, "MH_ERROR_MODULE_NOT_FOUND"},
        {MH_ERROR_FUNCTION_NOT_FOUND, "MH_ERROR_FUNCTION_NOT_FOUND"},
        {static_cast<MH_STATUS>(13), "(unknown)"},
        {static_cast<MH_STATUS>(-2), "(unknown)"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(MH_StatusToString(c.status), c.text);
    }
}

TEST(HookStatusText, MinHookValues) {
    const int values[] = {MH_UNKNOWN,
                          MH_OK,
                          MH_ERROR_ALREADY_INITIALIZED,
                          MH_ERROR_NOT_INITIALIZED,
                          MH_ERROR_ALREADY_CREATED,
                          MH_ERROR_NOT_CREATED,
                          MH_ERROR_ENABLED,
                          MH_ERROR_DISABLED,
                          MH_ERROR_NOT_EXECUTABLE,
                          MH_ERROR_UNSUPPORTED_FUNCTION,
                          MH_ERROR_MEMORY_ALLOC,
                          MH_ERROR_MEMORY_PROTECT,
                          MH_ERROR_MODULE_NOT_FOUND,
                          MH_ERROR_FUNCTION_NOT_FOUND};
    for (int i = 0; i < static_cast<int>(std::size(values)); ++i) {
        EXPECT_EQ(values[i], i - 1);
    }
    EXPECT_EQ(static_cast<void*>(MH_ALL_HOOKS), nullptr);
}

} // namespace
