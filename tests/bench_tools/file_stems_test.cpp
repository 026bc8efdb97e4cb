// The stems of the bench's per-car files: one of its own for every car of a
// run, on a file system that does not tell letter case apart.
#include "bench/play/file_stems.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::string folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

TEST(FileStems, EveryCarOfARunGetsAStemOfItsOwn) {
    const struct {
        std::vector<std::string> names; // cars in the order the run placed them
        std::vector<std::string> stems;
    } cases[] = {
        {{"saloon", "van"}, {"saloon", "van"}},
        // The same name after a new game or a destroy.
        {{"saloon", "saloon", "saloon"}, {"saloon", "saloon_2", "saloon_3"}},
        // Names that differ only in letter case would share files on Windows.
        {{"Bob", "bob", "BOB"}, {"Bob", "bob_2", "BOB_3"}},
        // A numbered stem is never another car's own name, in either order.
        {{"bob_2", "bob", "bob"}, {"bob_2", "bob", "bob_3"}},
        {{"bob", "bob", "bob_2"}, {"bob", "bob_2", "bob_2_2"}},
    };
    for (const auto& c : cases) {
        bench::FileStems stems;
        std::vector<std::string> got;
        std::set<std::string> distinct;
        for (const std::string& name : c.names) {
            got.push_back(stems.claim(name));
            distinct.insert(folded(got.back()));
        }
        EXPECT_EQ(got, c.stems);
        EXPECT_EQ(distinct.size(), c.names.size());
    }
}

} // namespace
