#include "plugin/hook_install.h"

#include <cstdint>

#include "contacts/contact_hooks.h"
#include "contacts/lifecycle.h"
#include "damage/part_retention.h"
#include "hook/hook_api.h"
#include "host/addresses.h"
#include "plugin/call_site.h"
#include "plugin/chaining_report.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace fendrix {

bool contactInstallAttempted = false;
bool contactHooksActive = false;
bool retentionInstallAttempted = false;

namespace {

struct FunctionHook {
    std::uintptr_t target;
    const void* replacement;
    void** original; // receives the entry point of the game's own routine
};

void* asTarget(std::uintptr_t address) {
    return reinterpret_cast<void*>(address);
}
template <typename Fn> const void* asCode(Fn* function) {
    return reinterpret_cast<const void*>(function);
}

// First group, in installation order.
const FunctionHook kContactHooks[] = {
    {host::addr::kTwoBodyContact, asCode(&twoBodyContactHook), &twoBodyContactOriginal},
    {host::addr::kStaticContact, asCode(&staticContactHook), &staticContactOriginal},
    {host::addr::kAlternateContact, asCode(&alternateContactHook), &alternateContactOriginal},
    {host::addr::kGameShutdown, asCode(&cgameShutdownHook), &cgameShutdownOriginal},
    {host::addr::kShutdownForRestart, asCode(&restartShutdownHook), &restartShutdownOriginal},
};

// Second group.
const FunctionHook kRetentionHooks[] = {
    {host::addr::kApplyComponentDamage, asCode(&retainDamage), &retainDamageOriginal},
    {host::addr::kSecondDamageRoutine, asCode(&forgetRetention), &forgetRetentionOriginal},
};

constexpr std::uint32_t kMinAttemptsForRetention = 2;

bool initialized() {
    const MH_STATUS status = MH_Initialize();
    return status == MH_OK || status == MH_ERROR_ALREADY_INITIALIZED;
}

MH_STATUS create(const FunctionHook& hook) {
    return MH_CreateHook(asTarget(hook.target), const_cast<void*>(hook.replacement), hook.original);
}

void disableAndRemove(const FunctionHook& hook) {
    MH_DisableHook(asTarget(hook.target));
    MH_RemoveHook(asTarget(hook.target));
}

// A jump where the routine should start: another plug-in got there first.
bool takenByAnotherMod(const FunctionHook& hook) {
    return *reinterpret_cast<const volatile std::uint8_t*>(hook.target) == kJmpRel32;
}

} // namespace

void installContactHooks() {
    contactInstallAttempted = true;
    if (!initialized()) {
        logLine("Contact hooks: initialization failed; disabled.");
        return;
    }
    for (std::size_t i = 0; i < std::size(kContactHooks); ++i) {
        const MH_STATUS status = create(kContactHooks[i]);
        if (status != MH_OK) {
            logFormat<128>("Contact hook %08lX failed: %s; deformation disabled.",
                           static_cast<unsigned long>(kContactHooks[i].target),
                           MH_StatusToString(status));
            for (std::size_t j = 0; j < i; ++j) {
                MH_RemoveHook(asTarget(kContactHooks[j].target));
            }
            return;
        }
    }
    for (const FunctionHook& hook : kContactHooks) {
        if (MH_EnableHook(asTarget(hook.target)) != MH_OK) {
            for (const FunctionHook& each : kContactHooks) {
                disableAndRemove(each);
            }
            logLine("Contact hook activation failed; deformation disabled.");
            return;
        }
    }
    contactHooksActive = true;
    logLine("Lifecycle hooks active: cleanup before CGame::Shutdown and ShutDownForRestart.");
    logLine(
        "Contact hooks active: static, two-body and alternate collision paths; original physics "
        "preserved.");
}

void installRetentionHooks() {
    retentionInstallAttempted = true;
    if (!settings.PartRetentionEnabled || settings.AttemptsPerStage < kMinAttemptsForRetention ||
        !initialized()) {
        return;
    }
    constexpr char kConflict[] =
        "Part retention: hook conflict/failure; stock detachment retained.";
    const FunctionHook& apply = kRetentionHooks[0];
    const FunctionHook& forget = kRetentionHooks[1];
    if (takenByAnotherMod(apply) || create(apply) != MH_OK) {
        logLine(kConflict);
        reportJumpTarget(apply.target);
        return;
    }
    if (takenByAnotherMod(forget) || create(forget) != MH_OK) {
        MH_RemoveHook(asTarget(apply.target));
        logLine(kConflict);
        reportJumpTarget(forget.target);
        return;
    }
    for (const FunctionHook& hook : kRetentionHooks) {
        if (MH_EnableHook(asTarget(hook.target)) != MH_OK) {
            for (const FunctionHook& each : kRetentionHooks) {
                disableAndRemove(each);
            }
            logLine("Part retention: activation failed; stock detachment retained.");
            return;
        }
    }
    logFormat<160>(
        "Part retention active: %u separate attempts per delayed stage; 750 ms contact gap.",
        static_cast<unsigned>(settings.AttemptsPerStage));
}

} // namespace fendrix
