// The readability test over real memory regions made with VirtualAlloc and
// VirtualProtect, and over region reports the platform may not produce.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mesh/readable_range.h"
#include "testbed/guarded_memory.h"

namespace {

using fendrix::isReadableRange;
using testbed::kPageSize;
using testbed::PageKind;
using testbed::PageRun;

constexpr DWORD kBasicProtection = 0xFF;

const PageKind kUnreadable[] = {PageKind::Reserved, PageKind::Free, PageKind::NoAccess,
                                PageKind::Guard, PageKind::ExecuteOnly};
const PageKind kReadable[] = {PageKind::ReadWrite,        PageKind::ReadOnly,
                              PageKind::ExecuteRead,      PageKind::ExecuteReadWrite,
                              PageKind::ReadWriteNoCache, PageKind::ReadWriteWriteCombine,
                              PageKind::ReadOnlyNoCache};

// The run really is what the table says: state and basic protection of each page.
void expectRunAsAsked(const PageRun& run, const std::vector<PageKind>& kinds) {
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        SCOPED_TRACE(testbed::kindName(kinds[i]));
        switch (kinds[i]) {
        case PageKind::Reserved:
            ASSERT_EQ(run.reportedState(i), static_cast<DWORD>(MEM_RESERVE));
            break;
        case PageKind::Free:
            ASSERT_EQ(run.reportedState(i), static_cast<DWORD>(MEM_FREE));
            break;
        default:
            ASSERT_EQ(run.reportedState(i), static_cast<DWORD>(MEM_COMMIT));
            ASSERT_EQ(run.reportedProtection(i) & (kBasicProtection | PAGE_GUARD),
                      testbed::protectionOf(kinds[i]) & (kBasicProtection | PAGE_GUARD));
        }
    }
}

struct RangeCase {
    std::string name;
    std::vector<PageKind> kinds;
    std::int64_t start; // bytes from the first page of the run
    std::uint32_t length;
    bool readable;
};

std::vector<RangeCase> rangeCases() {
    const auto page = static_cast<std::int64_t>(kPageSize);
    std::vector<RangeCase> cases = {
        {"length 0", {PageKind::ReadWrite}, 0, 0, false},
        {"one byte", {PageKind::ReadWrite}, 0, 1, true},
        {"whole page", {PageKind::ReadWrite}, 0, kPageSize, true},
        {"last byte of a region", {PageKind::ReadWrite, PageKind::Reserved}, page - 1, 1, true},
        {"ends exactly at the region end",
         {PageKind::ReadWrite, PageKind::NoAccess},
         page - 16,
         16,
         true},
        {"one byte past the region end",
         {PageKind::ReadWrite, PageKind::NoAccess},
         page - 16,
         17,
         false},
        {"two adjacent regions", {PageKind::ReadWrite, PageKind::ReadOnly}, page - 8, 16, true},
        {"three adjacent regions",
         {PageKind::ReadOnly, PageKind::ExecuteReadWrite, PageKind::ExecuteRead},
         8,
         3 * kPageSize - 16,
         true},
        {"readable, then unreadable further on",
         {PageKind::ReadWrite, PageKind::ReadOnly, PageKind::NoAccess},
         0,
         3 * kPageSize,
         false},
    };
    for (PageKind kind : kReadable) {
        const std::string name = testbed::kindName(kind);
        cases.push_back({name + " alone", {kind}, 0, kPageSize, true});
        cases.push_back(
            {"read-write then " + name, {PageKind::ReadWrite, kind}, page - 8, 16, true});
    }
    for (PageKind kind : kUnreadable) {
        const std::string name = testbed::kindName(kind);
        cases.push_back({name + " alone", {kind}, 0, 1, false});
        cases.push_back(
            {"read-write then " + name, {PageKind::ReadWrite, kind}, page - 8, 16, false});
        cases.push_back(
            {"read-write up to " + name, {PageKind::ReadWrite, kind}, page - 8, 8, true});
        if (kind != PageKind::Free) {
            cases.push_back(
                {name + " then read-write", {kind, PageKind::ReadWrite}, page - 8, 16, false});
        }
    }
    return cases;
}

TEST(ReadableRange, RealRegions) {
    for (const RangeCase& c : rangeCases()) {
        SCOPED_TRACE(c.name);
        PageRun run(c.kinds);
        run.seal();
        expectRunAsAsked(run, c.kinds);
        const auto address =
            static_cast<std::uintptr_t>(static_cast<std::int64_t>(run.page(0)) + c.start);
        EXPECT_EQ(isReadableRange(address, c.length), c.readable);
        EXPECT_TRUE(run.guardsIntact()) << "the test never touches a guard page";
    }
}

TEST(ReadableRange, CopyOnWriteViews) {
    for (bool executable : {false, true}) {
        testbed::CopyOnWriteView view(executable);
        const DWORD expected = executable ? PAGE_EXECUTE_WRITECOPY : PAGE_WRITECOPY;
        ASSERT_EQ(view.reportedProtection() & kBasicProtection, expected);
        EXPECT_TRUE(isReadableRange(view.base(), static_cast<std::uint32_t>(view.size())))
            << executable;
    }
}

TEST(ReadableRange, LowAndWrappingAddresses) {
    PageRun run({PageKind::ReadWrite});
    run.seal();
    EXPECT_FALSE(isReadableRange(0, 1));
    EXPECT_FALSE(isReadableRange(1, 4));
    EXPECT_FALSE(isReadableRange(fendrix::kLowestReadableAddress - 1, 1));
    EXPECT_FALSE(isReadableRange(fendrix::kLowestReadableAddress - 1, 2));
    EXPECT_FALSE(isReadableRange(run.page(0), 0xFFFFFFFFu)) << "wraps past 4 GiB";
    EXPECT_TRUE(isReadableRange(run.page(0), 1)) << "the same start with a sane length";
}

// Region reports made up, for what real memory cannot show on every platform
// (Wine, for one, reports no modifier bits).
struct FakeRegion {
    std::uintptr_t base;
    std::uintptr_t size;
    DWORD state;
    DWORD protect;
};
std::vector<FakeRegion> gFakeRegions;
int gFakeQueries = 0;

bool fakeQuery(std::uintptr_t address, fendrix::MemoryRegion& region) {
    ++gFakeQueries;
    for (const FakeRegion& r : gFakeRegions) {
        if (address >= r.base && address - r.base < r.size) {
            region = {r.base, r.size, r.state, r.protect};
            return true;
        }
    }
    return false;
}

struct ProtectionCase {
    DWORD state;
    DWORD protect;
    bool readable;
};

TEST(ReadableRange, EveryProtectionAndModifier) {
    const ProtectionCase cases[] = {
        {MEM_COMMIT, PAGE_READONLY, true},
        {MEM_COMMIT, PAGE_READWRITE, true},
        {MEM_COMMIT, PAGE_WRITECOPY, true},
        {MEM_COMMIT, PAGE_EXECUTE_READ, true},
        {MEM_COMMIT, PAGE_EXECUTE_READWRITE, true},
        {MEM_COMMIT, PAGE_EXECUTE_WRITECOPY, true},
        {MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE, true},
        {MEM_COMMIT, PAGE_READWRITE | PAGE_WRITECOMBINE, true},
        {MEM_COMMIT, PAGE_READONLY | PAGE_NOCACHE, true},
        {MEM_COMMIT, PAGE_EXECUTE_READ | PAGE_WRITECOMBINE, true},
        {MEM_COMMIT, PAGE_EXECUTE, false},
        {MEM_COMMIT, PAGE_EXECUTE | PAGE_NOCACHE, false},
        {MEM_COMMIT, PAGE_NOACCESS, false},
        {MEM_COMMIT, 0, false},
        {MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD, false},
        {MEM_COMMIT, PAGE_READONLY | PAGE_GUARD | PAGE_NOCACHE, false},
        {MEM_COMMIT, PAGE_READWRITE | PAGE_NOACCESS, false},
        {MEM_RESERVE, PAGE_READWRITE, false},
        {MEM_FREE, PAGE_READWRITE, false},
    };
    constexpr std::uintptr_t kBase = 0x20000;
    for (const ProtectionCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "state " << c.state << " protect " << c.protect);
        gFakeRegions = {{kBase, kPageSize, MEM_COMMIT, PAGE_READWRITE},
                        {kBase + kPageSize, kPageSize, c.state, c.protect}};
        EXPECT_EQ(isReadableRange(kBase + kPageSize, 4, fakeQuery), c.readable) << "alone";
        EXPECT_EQ(isReadableRange(kBase + kPageSize - 4, 8, fakeQuery), c.readable)
            << "behind a readable region";
    }
}

TEST(ReadableRange, QueriesOnlyWhatItMustAndAlwaysEnds) {
    constexpr std::uintptr_t kBase = 0x20000;
    // Everything readable: only the bounds of the arguments can reject.
    gFakeRegions = {{fendrix::kLowestReadableAddress, 0xFFFF0000u, MEM_COMMIT, PAGE_READWRITE}};
    gFakeQueries = 0;
    EXPECT_FALSE(isReadableRange(fendrix::kLowestReadableAddress - 1, 1, fakeQuery));
    EXPECT_FALSE(isReadableRange(kBase, 0, fakeQuery));
    EXPECT_FALSE(isReadableRange(0xFFFFF000u, 0x1000, fakeQuery)) << "ends at 4 GiB";
    EXPECT_EQ(gFakeQueries, 0) << "rejected before asking the system";
    EXPECT_TRUE(isReadableRange(fendrix::kLowestReadableAddress, 1, fakeQuery));
    EXPECT_TRUE(isReadableRange(0xFFFFE000u, 0x1000, fakeQuery));

    // One query per region touched.
    gFakeRegions = {{kBase, kPageSize, MEM_COMMIT, PAGE_READWRITE},
                    {kBase + kPageSize, kPageSize, MEM_COMMIT, PAGE_READONLY},
                    {kBase + 2 * kPageSize, kPageSize, MEM_COMMIT, PAGE_READWRITE}};
    gFakeQueries = 0;
    EXPECT_TRUE(isReadableRange(kBase + 8, 3 * kPageSize - 16, fakeQuery));
    EXPECT_EQ(gFakeQueries, 3);

    // A failed query, and a region report that makes no progress, reject.
    gFakeRegions = {{kBase, kPageSize, MEM_COMMIT, PAGE_READWRITE}};
    EXPECT_FALSE(isReadableRange(kBase + kPageSize - 4, 8, fakeQuery)) << "no region after";
    // A report whose region ends at or before the address asked about.
    static const FakeRegion stuck = {kBase, kPageSize, MEM_COMMIT, PAGE_READWRITE};
    const auto stuckQuery = [](std::uintptr_t, fendrix::MemoryRegion& region) {
        ++gFakeQueries;
        region = {stuck.base, stuck.size, stuck.state, stuck.protect};
        return true;
    };
    gFakeQueries = 0;
    EXPECT_FALSE(isReadableRange(kBase + kPageSize + 4, 4, stuckQuery));
    EXPECT_EQ(gFakeQueries, 1);
}

} // namespace
