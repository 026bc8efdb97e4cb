#pragma once
// Real memory in every state and protection the plug-in's readability test has
// to tell apart: runs of adjacent pages, each page with its own kind, made
// with VirtualAlloc and VirtualProtect.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testbed {

inline constexpr std::size_t kPageSize = 0x1000;
inline constexpr std::size_t kAllocationGranularity = 0x10000;

enum class PageKind {
    ReadWrite,
    ReadOnly,
    ExecuteRead,
    ExecuteReadWrite,
    ReadWriteNoCache,
    ReadWriteWriteCombine,
    ReadOnlyNoCache,
    ExecuteOnly,
    NoAccess,
    Guard, // read-write behind PAGE_GUARD
    Reserved,
    Free, // only as the last page of a run
};

const char* kindName(PageKind kind);
// Whether the kind's pages can be read.
bool readableKind(PageKind kind);
// Whether the kind's pages are committed (and can be filled before sealing).
bool committedKind(PageKind kind);
// The protection a committed kind is given; 0 for reserved and free pages.
std::uint32_t protectionOf(PageKind kind);

// Adjacent pages in the given kinds, all of one reservation except a trailing
// free page. Committed pages start read-write so that a test can fill them;
// seal() then gives every page its kind.
class PageRun {
  public:
    explicit PageRun(std::initializer_list<PageKind> kinds);
    explicit PageRun(const std::vector<PageKind>& kinds);
    ~PageRun();
    PageRun(const PageRun&) = delete;
    PageRun& operator=(const PageRun&) = delete;

    std::uintptr_t page(std::size_t index) const { return first_ + index * kPageSize; }
    std::uintptr_t pageEnd(std::size_t index) const { return page(index) + kPageSize; }
    std::size_t size() const { return kinds_.size(); }

    // Copies bytes into committed pages before seal().
    void write(std::uintptr_t at, const void* bytes, std::size_t size) const;
    void seal();
    bool sealed() const { return sealed_; }

    // The protection the system reports for a page now (0 when not committed).
    std::uint32_t reportedProtection(std::size_t index) const;
    std::uint32_t reportedState(std::size_t index) const;
    // Whether every guard page still carries PAGE_GUARD, i.e. was never touched.
    bool guardsIntact() const;

  private:
    void build();

    std::vector<PageKind> kinds_;
    std::uintptr_t reservation_ = 0;
    std::uintptr_t first_ = 0;
    bool sealed_ = false;
};

// Two pages of a copy-on-write file view: the kinds VirtualAlloc cannot make
// (PAGE_WRITECOPY, and PAGE_EXECUTE_WRITECOPY when executable).
class CopyOnWriteView {
  public:
    explicit CopyOnWriteView(bool executable);
    ~CopyOnWriteView();
    CopyOnWriteView(const CopyOnWriteView&) = delete;
    CopyOnWriteView& operator=(const CopyOnWriteView&) = delete;

    std::uintptr_t base() const { return reinterpret_cast<std::uintptr_t>(view_); }
    std::size_t size() const { return kViewSize; }
    std::uint32_t reportedProtection() const;

  private:
    static constexpr std::size_t kViewSize = 2 * kPageSize;
    void* mapping_ = nullptr;
    void* view_ = nullptr;
};

} // namespace testbed
