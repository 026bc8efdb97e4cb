#include "testbed/guarded_memory.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testbed {

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "testbed: %s (error %lu)\n", what, GetLastError());
    std::abort();
}

std::size_t roundUp(std::size_t value, std::size_t unit) {
    return (value + unit - 1) / unit * unit;
}

MEMORY_BASIC_INFORMATION query(std::uintptr_t at) {
    MEMORY_BASIC_INFORMATION info = {};
    VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info);
    return info;
}

} // namespace

const char* kindName(PageKind kind) {
    switch (kind) {
    case PageKind::ReadWrite:
        return "read-write";
    case PageKind::ReadOnly:
        return "read-only";
    case PageKind::ExecuteRead:
        return "execute-read";
    case PageKind::ExecuteReadWrite:
        return "execute-read-write";
    case PageKind::ReadWriteNoCache:
        return "read-write no-cache";
    case PageKind::ReadWriteWriteCombine:
        return "read-write write-combine";
    case PageKind::ReadOnlyNoCache:
        return "read-only no-cache";
    case PageKind::ExecuteOnly:
        return "execute-only";
    case PageKind::NoAccess:
        return "no-access";
    case PageKind::Guard:
        return "guard";
    case PageKind::Reserved:
        return "reserved";
    case PageKind::Free:
        return "free";
    }
    return "?";
}

bool readableKind(PageKind kind) {
    switch (kind) {
    case PageKind::ReadWrite:
    case PageKind::ReadOnly:
    case PageKind::ExecuteRead:
    case PageKind::ExecuteReadWrite:
    case PageKind::ReadWriteNoCache:
    case PageKind::ReadWriteWriteCombine:
    case PageKind::ReadOnlyNoCache:
        return true;
    default:
        return false;
    }
}

bool committedKind(PageKind kind) {
    return kind != PageKind::Reserved && kind != PageKind::Free;
}

std::uint32_t protectionOf(PageKind kind) {
    switch (kind) {
    case PageKind::ReadWrite:
        return PAGE_READWRITE;
    case PageKind::ReadOnly:
        return PAGE_READONLY;
    case PageKind::ExecuteRead:
        return PAGE_EXECUTE_READ;
    case PageKind::ExecuteReadWrite:
        return PAGE_EXECUTE_READWRITE;
    case PageKind::ReadWriteNoCache:
        return PAGE_READWRITE | PAGE_NOCACHE;
    case PageKind::ReadWriteWriteCombine:
        return PAGE_READWRITE | PAGE_WRITECOMBINE;
    case PageKind::ReadOnlyNoCache:
        return PAGE_READONLY | PAGE_NOCACHE;
    case PageKind::ExecuteOnly:
        return PAGE_EXECUTE;
    case PageKind::NoAccess:
        return PAGE_NOACCESS;
    case PageKind::Guard:
        return PAGE_READWRITE | PAGE_GUARD;
    case PageKind::Reserved:
    case PageKind::Free:
        return 0;
    }
    return 0;
}

PageRun::PageRun(std::initializer_list<PageKind> kinds) : kinds_(kinds) {
    build();
}
PageRun::PageRun(const std::vector<PageKind>& kinds) : kinds_(kinds) {
    build();
}

void PageRun::build() {
    if (kinds_.empty()) {
        fail("empty page run");
    }
    for (std::size_t i = 0; i + 1 < kinds_.size(); ++i) {
        if (kinds_[i] == PageKind::Free) {
            fail("a free page can only end a run");
        }
    }
    const bool endsFree = kinds_.back() == PageKind::Free;
    const std::size_t held = kinds_.size() - (endsFree ? 1 : 0);
    // The held pages end on a granule boundary, so that a free granule can follow.
    const std::size_t span = roundUp(held * kPageSize, kAllocationGranularity);
    const std::size_t probe = span + (endsFree ? kAllocationGranularity : 0);
    void* found = VirtualAlloc(nullptr, probe, MEM_RESERVE, PAGE_NOACCESS);
    if (found == nullptr) {
        fail("cannot find address space for a page run");
    }
    if (span == 0) {
        // A run of one free page: the granule just found, given back.
        VirtualFree(found, 0, MEM_RELEASE);
        first_ = reinterpret_cast<std::uintptr_t>(found);
        return;
    }
    if (endsFree) {
        // Keep only the front: the granule behind it is left free.
        VirtualFree(found, 0, MEM_RELEASE);
        found = VirtualAlloc(found, span, MEM_RESERVE, PAGE_NOACCESS);
        if (found == nullptr) {
            fail("cannot re-reserve a page run");
        }
    }
    reservation_ = reinterpret_cast<std::uintptr_t>(found);
    first_ = reservation_ + span - held * kPageSize;
    for (std::size_t i = 0; i < held; ++i) {
        if (kinds_[i] == PageKind::Reserved) {
            continue;
        }
        if (VirtualAlloc(reinterpret_cast<void*>(page(i)), kPageSize, MEM_COMMIT, PAGE_READWRITE) ==
            nullptr) {
            fail("cannot commit a page");
        }
    }
}

PageRun::~PageRun() {
    if (reservation_ != 0) {
        VirtualFree(reinterpret_cast<void*>(reservation_), 0, MEM_RELEASE);
    }
}

void PageRun::write(std::uintptr_t at, const void* bytes, std::size_t size) const {
    if (sealed_) {
        fail("page run written after sealing");
    }
    std::memcpy(reinterpret_cast<void*>(at), bytes, size);
}

void PageRun::seal() {
    if (sealed_) {
        return;
    }
    for (std::size_t i = 0; i < kinds_.size(); ++i) {
        const std::uint32_t protection = protectionOf(kinds_[i]);
        if (protection == 0) {
            continue;
        }
        DWORD previous = 0;
        if (!VirtualProtect(reinterpret_cast<void*>(page(i)), kPageSize, protection, &previous)) {
            fail("cannot protect a page");
        }
    }
    sealed_ = true;
}

std::uint32_t PageRun::reportedProtection(std::size_t index) const {
    const MEMORY_BASIC_INFORMATION info = query(page(index));
    return info.State == MEM_COMMIT ? info.Protect : 0;
}

std::uint32_t PageRun::reportedState(std::size_t index) const {
    return query(page(index)).State;
}

bool PageRun::guardsIntact() const {
    for (std::size_t i = 0; i < kinds_.size(); ++i) {
        if (kinds_[i] == PageKind::Guard && sealed_ && (reportedProtection(i) & PAGE_GUARD) == 0) {
            return false;
        }
    }
    return true;
}

CopyOnWriteView::CopyOnWriteView(bool executable) {
    const DWORD protection = executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
    const DWORD access = FILE_MAP_COPY | (executable ? FILE_MAP_EXECUTE : 0);
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, protection, 0, kViewSize, nullptr);
    if (mapping_ == nullptr) {
        fail("cannot create a file mapping");
    }
    view_ = MapViewOfFile(mapping_, access, 0, 0, kViewSize);
    if (view_ == nullptr) {
        fail("cannot map a copy-on-write view");
    }
}

CopyOnWriteView::~CopyOnWriteView() {
    UnmapViewOfFile(view_);
    CloseHandle(mapping_);
}

std::uint32_t CopyOnWriteView::reportedProtection() const {
    return query(base()).Protect;
}

} // namespace testbed
