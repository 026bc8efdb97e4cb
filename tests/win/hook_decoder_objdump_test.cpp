// The length decoder against objdump on real compiled code: every instruction
// boundary objdump finds in the listings the build writes beside this program.
#include "hook/x86_decoder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ListedInstruction {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
    bool decodable; // objdump itself decoded it (not "(bad)" or ".byte")
    std::string text;
};

struct Comparison {
    std::size_t compared = 0;
    std::size_t mismatches = 0;
    std::string firstMismatches;
};

constexpr std::size_t kReportedMismatches = 20;
// objdump lists fwait with the x87 instruction after it (fstsw, fstcw, finit...)
// as one line; the CPU, and the decoder, see two instructions.
constexpr std::uint8_t kFwait = 0x9B;
constexpr int kHexBase = 16;

std::string besideThisProgram(const std::string& name) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + name;
}

// "  401000:\t55 8b ec      \tpush   %ebp" -> address, bytes, text.
bool parseLine(const std::string& line, ListedInstruction& out) {
    const auto firstTab = line.find('\t');
    if (firstTab == std::string::npos || firstTab == 0 || line[firstTab - 1] != ':') {
        return false;
    }
    const std::string addressText = line.substr(0, firstTab - 1);
    if (addressText.find_first_not_of(" 0123456789abcdef") != std::string::npos) {
        return false;
    }
    const auto secondTab = line.find('\t', firstTab + 1);
    std::istringstream bytes(line.substr(firstTab + 1, secondTab - firstTab - 1));
    out.address = static_cast<std::uint32_t>(std::stoul(addressText, nullptr, kHexBase));
    out.bytes.clear();
    for (std::string byte; bytes >> byte;) {
        out.bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, kHexBase)));
    }
    out.text = secondTab == std::string::npos ? "" : line.substr(secondTab + 1);
    out.decodable = !out.text.empty() && out.text.find("(bad)") == std::string::npos &&
                    out.text.find(".byte") == std::string::npos;
    return !out.bytes.empty();
}

// Runs of contiguous instructions: the decoder sees the bytes that follow each
// instruction too, as it does in memory.
void compareRun(const std::vector<ListedInstruction>& run, Comparison& result) {
    std::vector<std::uint8_t> stream;
    for (const auto& insn : run) {
        stream.insert(stream.end(), insn.bytes.begin(), insn.bytes.end());
    }
    std::size_t offset = 0;
    for (const auto& insn : run) {
        if (insn.decodable) {
            const auto code = std::span(stream).subspan(offset);
            std::size_t length = hook::x86::decode(code).length;
            if (insn.bytes.front() == kFwait && length == 1 && insn.bytes.size() > 1) {
                length += hook::x86::decode(code.subspan(1)).length;
            }
            ++result.compared;
            if (length != insn.bytes.size()) {
                if (++result.mismatches <= kReportedMismatches) {
                    std::ostringstream report;
                    report << std::hex << insn.address << ": objdump " << insn.bytes.size()
                           << " bytes, decoder " << std::dec << length << ": " << insn.text << "\n";
                    result.firstMismatches += report.str();
                }
            }
        }
        offset += insn.bytes.size();
    }
}

Comparison compareListing(std::istream& listing) {
    Comparison result;
    std::vector<ListedInstruction> run;
    std::string line;
    ListedInstruction insn;
    while (std::getline(listing, line)) {
        if (!parseLine(line, insn)) {
            // Section and symbol headers, and "..." for skipped zeros, end a run.
            if (line.find("...") != std::string::npos ||
                line.find("section") != std::string::npos ||
                line.find("file format") != std::string::npos) {
                compareRun(run, result);
                run.clear();
            }
            continue;
        }
        if (!run.empty() && run.back().address + run.back().bytes.size() != insn.address) {
            compareRun(run, result);
            run.clear();
        }
        run.push_back(insn);
    }
    compareRun(run, result);
    return result;
}

struct ListingCase {
    const char* file;
    bool required;           // built together with this program
    std::size_t minimumSize; // instructions a real listing of it certainly has
};

#if defined(FENDRIX_SYSTEM_MINHOOK)
constexpr bool kOwnEngine = false; // the hook library is an installed MinHook
#else
constexpr bool kOwnEngine = true;
#endif

const ListingCase kListings[] = {
    {"win_tests.dis", true, 100000},
    {"fendrix_hook.dis", kOwnEngine, 500},
    {"FendrixVC.dis", false, 1000},
    {"testbed.dis", false, 1000},
};

TEST(HookDecoderObjdump, BoundariesMatchOnCompiledCode) {
#if !defined(FENDRIX_OBJDUMP_LISTINGS)
    GTEST_SKIP() << "this build has no objdump to write listings";
#endif
    for (const ListingCase& c : kListings) {
        SCOPED_TRACE(c.file);
        std::ifstream listing(besideThisProgram(c.file));
        if (!listing) {
            EXPECT_FALSE(c.required) << "missing listing " << c.file;
            continue;
        }
        const Comparison result = compareListing(listing);
        EXPECT_GE(result.compared, c.minimumSize);
        EXPECT_EQ(result.mismatches, 0u) << result.firstMismatches;
        std::printf("%s: %zu instructions compared\n", c.file, result.compared);
    }
}

} // namespace
