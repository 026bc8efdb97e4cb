#include "plugin/chaining_report.h"

#include <cstring>

#include "mesh/readable_range.h"
#include "plugin/call_site.h"
#include "plugin/log.h"
#include "plugin/module_names.h"

namespace fendrix {

namespace {

constexpr std::size_t kLineSize = 160;
constexpr std::size_t kNameSize = 96;

// Where the call or jump rel32 at the address leads; 0 when none stands there.
std::uintptr_t branchTarget(std::uintptr_t address, std::uint8_t opcode) {
    if (!isReadableRange(address, sizeof(CallRel32))) {
        return 0;
    }
    CallRel32 branch;
    std::memcpy(&branch, reinterpret_cast<const void*>(address), sizeof branch);
    if (branch.opcode != opcode) {
        return 0;
    }
    return address + sizeof branch + static_cast<std::uintptr_t>(branch.displacement);
}

void chainedThrough(std::uintptr_t site, std::uintptr_t target) {
    if (target == 0 || inGameExecutable(target)) {
        return;
    }
    char name[kNameSize];
    moduleNameOf(target, name, sizeof name);
    logFormat<kLineSize>("Call site %08lX chained through %s.", static_cast<unsigned long>(site),
                         name);
}

} // namespace

void reportDisplacedTarget(std::uintptr_t site, const void* displaced) {
    chainedThrough(site, reinterpret_cast<std::uintptr_t>(displaced));
}

void reportChangedSite(std::uintptr_t site, const void* ours) {
    const std::uintptr_t target = branchTarget(site, kCallRel32);
    if (target != reinterpret_cast<std::uintptr_t>(ours)) {
        chainedThrough(site, target);
    }
}

void reportJumpTarget(std::uintptr_t address) {
    const std::uintptr_t target = branchTarget(address, kJmpRel32);
    if (target == 0 || inGameExecutable(target)) {
        return;
    }
    char name[kNameSize];
    moduleNameOf(target, name, sizeof name);
    logFormat<kLineSize>("Jump at %08lX leads into %s.", static_cast<unsigned long>(address), name);
}

} // namespace fendrix
