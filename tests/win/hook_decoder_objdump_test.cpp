// The length decoder against objdump on real compiled code: every instruction
// boundary objdump finds in the listings the build writes beside this program,
// and the control-flow class its mnemonic names.
#include "hook/x86_decoder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using hook::x86::Flow;

struct ListedInstruction {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
    bool decodable; // objdump itself decoded it (not "(bad)" or ".byte")
    std::string text;
};

struct Comparison {
    std::size_t compared = 0;
    std::size_t mismatches = 0;
    std::size_t branches = 0; // instructions objdump lists as anything but sequential
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

// The class of an objdump line by its mnemonic (AT&T syntax, prefixes skipped).
Flow flowOfListing(const std::string& text) {
    static const std::set<std::string> prefixes = {
        "rep", "repz", "repnz", "repe", "repne", "lock",   "bnd",    "notrack", "cs",
        "ds",  "ss",   "es",    "fs",   "gs",    "data16", "addr16", "data32",  "addr32"};
    static const std::set<std::string> conditional = {"jo",  "jno", "jb",  "jae", "je", "jne",
                                                      "jbe", "ja",  "js",  "jns", "jp", "jnp",
                                                      "jl",  "jge", "jle", "jg"};
    static const std::set<std::string> loops = {"loop", "loope", "loopne", "jecxz", "jcxz"};
    static const std::set<std::string> returns = {"ret", "lret", "iret"};
    static const std::set<std::string> traps = {"int3", "int1", "ud2"};
    std::istringstream words(text);
    std::string mnemonic, operand;
    while (words >> mnemonic && prefixes.count(mnemonic) != 0) {
    }
    words >> operand;
    mnemonic = mnemonic.substr(0, mnemonic.find(',')); // "je,pt": a branch hint
    static const std::set<std::string> sizedForms = {"jmpw", "callw", "retw", "lretw", "iretw"};
    if (sizedForms.count(mnemonic) != 0) {
        mnemonic.pop_back(); // "jmpw": the 16-bit operand size of a 66 prefix
    }
    const bool indirect = !operand.empty() && operand.front() == '*';
    if (mnemonic == "call") {
        return indirect ? Flow::Sequential : Flow::Call;
    }
    if (mnemonic == "jmp") {
        return indirect ? Flow::IndirectJump : Flow::Jump;
    }
    if (mnemonic == "ljmp") {
        return indirect ? Flow::IndirectJump : Flow::FarJump;
    }
    if (conditional.count(mnemonic) != 0) {
        return Flow::ConditionalJump;
    }
    if (loops.count(mnemonic) != 0) {
        return Flow::Loop;
    }
    if (returns.count(mnemonic) != 0) {
        return Flow::Return;
    }
    if (traps.count(mnemonic) != 0) {
        return Flow::Trap;
    }
    if (mnemonic == "xbegin") {
        return Flow::OtherRelative;
    }
    return Flow::Sequential;
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
            const auto decoded = hook::x86::decode(code);
            std::size_t length = decoded.length;
            const Flow listed = flowOfListing(insn.text);
            bool flowAgrees = decoded.flow == listed;
            if (insn.bytes.front() == kFwait && length == 1 && insn.bytes.size() > 1) {
                length += hook::x86::decode(code.subspan(1)).length;
                flowAgrees = true; // two instructions on one line
            }
            ++result.compared;
            result.branches += listed != Flow::Sequential ? 1 : 0;
            if (length != insn.bytes.size() || !flowAgrees) {
                if (++result.mismatches <= kReportedMismatches) {
                    std::ostringstream report;
                    report << std::hex << insn.address << ": objdump " << insn.bytes.size()
                           << " bytes, decoder " << std::dec << length << " (flow "
                           << static_cast<int>(decoded.flow) << " against "
                           << static_cast<int>(listed) << "): " << insn.text << "\n";
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

TEST(HookDecoderObjdump, BoundariesAndFlowMatchOnCompiledCode) {
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
        EXPECT_GT(result.branches, 0u);
        std::printf("%s: %zu instructions compared, %zu of them branches, returns or traps\n",
                    c.file, result.compared, result.branches);
    }
}

} // namespace
