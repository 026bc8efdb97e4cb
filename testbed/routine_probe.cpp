#include "testbed/routine_probe.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "testbed/host_image.h"

namespace testbed {

namespace {

constexpr std::uint8_t kJmpRel32 = 0xE9;
constexpr std::size_t kJmpRel32Size = 5;
constexpr std::uintptr_t kLowestAddress = 0x10000;
constexpr std::uintptr_t kHighestAddress = 0x7FFF0000;
constexpr DWORD kExecutable =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kUnreadable = PAGE_GUARD | PAGE_NOACCESS | PAGE_EXECUTE;

// What a trampoline of a routine holds: the leading instructions copied as
// they are, then a jmp rel32 to `destination`.
struct TrampolineShape {
    std::vector<std::uint8_t> copied;
    std::uintptr_t destination = 0;
};

std::int32_t rel32At(const RoutineBytes& bytes, std::size_t at) {
    std::int32_t value;
    std::memcpy(&value, &bytes[at], sizeof value);
    return value;
}

// A trampoline covers whole instructions until at least 5 bytes are covered:
//   frame stub     55 | 8B EC | 5D | E9 rel32     -> 55 8B EC 5D, jmp to the implementation
//   hot-patch stub 8B FF | 55 | 8B EC | 5D | ...  -> 8B FF 55 8B EC, jmp back to the routine + 5
//   another mod    E9 rel32                       -> jmp to where the mod's jump went
TrampolineShape shapeOf(std::uintptr_t address, const RoutineBytes& b) {
    TrampolineShape shape;
    if (b[0] == 0x55 && b[1] == 0x8B && b[2] == 0xEC && b[3] == 0x5D && b[4] == kJmpRel32) {
        shape.copied.assign(b.begin(), b.begin() + 4);
        shape.destination = address + 9 + static_cast<std::uintptr_t>(rel32At(b, 5));
    } else if (b[0] == 0x8B && b[1] == 0xFF && b[2] == 0x55 && b[3] == 0x8B && b[4] == 0xEC) {
        shape.copied.assign(b.begin(), b.begin() + 5);
        shape.destination = address + 5;
    } else if (b[0] == kJmpRel32) {
        shape.destination = address + kJmpRel32Size + static_cast<std::uintptr_t>(rel32At(b, 1));
    } else {
        std::fprintf(stderr, "testbed: no known trampoline shape for the routine at %08lX\n",
                     static_cast<unsigned long>(address));
        std::abort();
    }
    return shape;
}

bool matches(const std::uint8_t* at, std::uintptr_t where, const TrampolineShape& shape) {
    const std::size_t n = shape.copied.size();
    if (std::memcmp(at, shape.copied.data(), n) != 0 || at[n] != kJmpRel32) {
        return false;
    }
    std::int32_t rel;
    std::memcpy(&rel, at + n + 1, sizeof rel);
    return where + n + kJmpRel32Size + static_cast<std::uintptr_t>(rel) == shape.destination;
}

} // namespace

std::vector<std::uintptr_t> trampolinesOf(std::uintptr_t address, const RoutineBytes& original) {
    const TrampolineShape shape = shapeOf(address, original);
    const std::size_t length = shape.copied.size() + kJmpRel32Size;
    std::vector<std::uintptr_t> found;
    std::uintptr_t at = kLowestAddress;
    while (at < kHighestAddress) {
        MEMORY_BASIC_INFORMATION info = {};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) != sizeof info) {
            break;
        }
        const auto base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
        const std::uintptr_t end = base + info.RegionSize;
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE &&
            (info.Protect & kExecutable) != 0 && (info.Protect & kUnreadable) == 0 &&
            info.RegionSize >= length) {
            const auto* bytes = static_cast<const std::uint8_t*>(info.BaseAddress);
            for (std::size_t i = 0; i + length <= info.RegionSize; ++i) {
                if (matches(bytes + i, base + i, shape)) {
                    found.push_back(base + i);
                }
            }
        }
        if (end <= at) {
            break;
        }
        at = end;
    }
    return found;
}

std::uint32_t slot(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::uint32_t slot(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

} // namespace testbed

namespace {

// The frame the assembly routine below reads and fills.
struct CallFrame {
    std::uint32_t routine;     // +0
    std::uint32_t self;        // +4
    const std::uint32_t* args; // +8
    std::uint32_t count;       // +12
    std::int32_t espChange;    // +16: ESP after the call minus ESP before the pushes
    std::uint32_t preserved;   // +20
    std::uint32_t eax;         // +24
};
static_assert(offsetof(CallFrame, espChange) == 16 && offsetof(CallFrame, eax) == 24);

} // namespace

extern "C" void fendrixTestbedMemberCall(CallFrame* frame);

#if !defined(__GNUC__) || !defined(__i386__)
#error "the testbed's member call is written in GNU assembler for 32-bit x86 (MinGW i686)"
#endif

// cdecl, one argument: the frame. Pushes the arguments, loads ECX and the
// marked registers, calls, and records what came back.
asm(R"(
    .text
    .globl _fendrixTestbedMemberCall
_fendrixTestbedMemberCall:
    .intel_syntax noprefix
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    sub esp, 4
    mov eax, [ebp+8]
    mov esi, [eax+8]
    mov ecx, [eax+12]
    mov [ebp-16], esp
1:  test ecx, ecx
    jz 2f
    dec ecx
    push dword ptr [esi+ecx*4]
    jmp 1b
2:  mov ecx, [eax+4]
    mov edx, [eax]
    mov ebx, 0x0B0B0B0B
    mov esi, 0x05050505
    mov edi, 0x0D0D0D0D
    call edx
    mov ecx, [ebp+8]
    mov [ecx+24], eax
    mov edx, esp
    sub edx, [ebp-16]
    mov [ecx+16], edx
    xor edx, edx
    cmp ebx, 0x0B0B0B0B
    jne 3f
    cmp esi, 0x05050505
    jne 3f
    cmp edi, 0x0D0D0D0D
    jne 3f
    inc edx
3:  mov [ecx+20], edx
    lea esp, [ebp-12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
    .att_syntax prefix
)");

namespace testbed {

MemberCall callMember(std::uintptr_t routine, const void* self,
                      std::initializer_list<std::uint32_t> args) {
    const std::vector<std::uint32_t> slots(args);
    CallFrame frame = {};
    frame.routine = static_cast<std::uint32_t>(routine);
    frame.self = slot(self);
    frame.args = slots.data();
    frame.count = static_cast<std::uint32_t>(slots.size());
    fendrixTestbedMemberCall(&frame);
    MemberCall call;
    call.eax = frame.eax;
    call.popped = frame.espChange + static_cast<std::int32_t>(4 * slots.size());
    call.preserved = frame.preserved != 0;
    return call;
}

} // namespace testbed
