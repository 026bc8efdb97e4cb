#include "plugin/module_names.h"

#include <windows.h>

#include <cstring>

#include "mesh/readable_range.h"
#include "plugin/paths.h"

namespace fendrix {

void moduleNameOf(std::uintptr_t address, char* name, std::size_t size) {
    if (size == 0) {
        return;
    }
    HMODULE owner = nullptr;
    char path[kPathSize] = {};
    // No reference is taken: the name is read at once and the handle dropped.
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    DWORD length = 0;
    if (address != 0 &&
        GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(address), &owner) != FALSE) {
        length = GetModuleFileNameA(owner, path, sizeof path);
    }
    // A full buffer may be unterminated (Windows XP) or cut (later Windows):
    // either way the name is not known.
    const char* shown = kUnknownModule;
    if (length > 0 && length < sizeof path) {
        shown = path;
        for (const char* c = path; *c != '\0'; ++c) {
            if (*c == '\\' || *c == '/') {
                shown = c + 1;
            }
        }
    }
    std::strncpy(name, shown, size - 1);
    name[size - 1] = '\0';
}

bool inGameExecutable(std::uintptr_t address) {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    if (!isReadableRange(base, sizeof(IMAGE_DOS_HEADER))) {
        return false;
    }
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const std::uintptr_t headers = base + static_cast<std::uintptr_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        !isReadableRange(headers, sizeof(IMAGE_NT_HEADERS32))) {
        return false;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(headers);
    if (nt->Signature != IMAGE_NT_SIGNATURE) {
        return false;
    }
    return address >= base && address - base < nt->OptionalHeader.SizeOfImage;
}

} // namespace fendrix
