#include "hook/memory_query.h"

#include <windows.h>

#include <cstdint>

namespace hook {
namespace {

constexpr DWORD kExecutable =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kUnusable = PAGE_GUARD | PAGE_NOACCESS;

bool query(const void* address, MEMORY_BASIC_INFORMATION& info) {
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT &&
           (info.Protect & kUnusable) == 0;
}

} // namespace

bool isExecutable(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    return address != nullptr && query(address, info) && (info.Protect & kExecutable) != 0;
}

std::size_t readableLength(const void* address, std::size_t wanted) {
    auto at = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t start = at;
    while (at - start < wanted) {
        MEMORY_BASIC_INFORMATION info;
        if (!query(reinterpret_cast<const void*>(at), info) || (info.Protect & kReadable) == 0) {
            break;
        }
        at = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    const std::size_t readable = at - start;
    return readable < wanted ? readable : wanted;
}

} // namespace hook
