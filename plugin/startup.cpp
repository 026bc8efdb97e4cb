#include "plugin/startup.h"

#include <windows.h>

#include <cstdint>

#include "contacts/lifecycle.h"
#include "contacts/tracking_table.h"
#include "host/addresses.h"
#include "mesh/readable_range.h"
#include "plugin/call_site.h"
#include "plugin/chaining_report.h"
#include "plugin/crash_report.h"
#include "plugin/frame_driver.h"
#include "plugin/log.h"
#include "plugin/paths.h"
#include "plugin/profile_source.h"
#include "plugin/settings.h"
#include "plugin/version.h"

namespace fendrix {

namespace {

constexpr char kHeader[] = "FendrixVC " FENDRIX_VERSION
                           " experimental - longer part retention; 0.1.3 deformation unchanged";
constexpr char kBadBase[] = "Unsupported executable base; disabled.";
constexpr char kBadSignature[] =
    "Unsupported executable: requires classic Vice City PC 1.0 English; disabled.";
constexpr char kDisabledInIni[] = "Disabled in INI.";
constexpr char kSitesChanged[] = "Hook sites changed by another mod; disabled.";
constexpr char kActive[] =
    "Active. Player first; nearby NPCs according to Traffic settings. F7 restores player "
    "geometry. Physical collision remains stock in this VC port.";
constexpr char kNotInstalled[] = "Could not install process hook; no deformation enabled.";

PluginPaths gPaths;

struct Redirection {
    std::uintptr_t site;
    const void* replacement;
    void** slot;
};

// The host's calls that are redirected, in the order they are made.
const Redirection kRedirections[] = {
    {host::addr::kRenderwareShutdownCall, reinterpret_cast<const void*>(&renderwareShutdownHook),
     &renderwareShutdownSlot},
    {host::addr::kPoolsShutdownCall, reinterpret_cast<const void*>(&poolsShutdownHook),
     &poolsShutdownSlot},
    {host::addr::kGameProcessCall, reinterpret_cast<const void*>(&frameDriver), &gameProcessSlot},
};

// The sites are checked in this order before any is changed.
constexpr std::uintptr_t kCheckedSites[] = {
    host::addr::kGameProcessCall,
    host::addr::kRenderwareShutdownCall,
    host::addr::kPoolsShutdownCall,
};

bool signatureMatches() {
    if (!isReadableRange(host::addr::kSignature, sizeof(std::uint32_t))) {
        return false;
    }
    return *reinterpret_cast<const volatile std::uint32_t*>(host::addr::kSignature) ==
           host::addr::kSignatureValue;
}

// The first checked site that holds no call, or 0 when all do.
std::uintptr_t changedSite() {
    for (std::uintptr_t site : kCheckedSites) {
        if (!isCallSite(site)) {
            return site;
        }
    }
    return 0;
}

} // namespace

void startup(void* module) {
    const auto handle = static_cast<HMODULE>(module);
    DisableThreadLibraryCalls(handle);

    char modulePath[kPathSize] = {};
    const DWORD length = GetModuleFileNameA(handle, modulePath, sizeof modulePath);
    if (!buildPaths(modulePath, length, gPaths)) {
        return;
    }
    setLogPath(gPaths.log);
    logLine(kHeader);

    const ProfileSource ini(gPaths.ini);
    readDiagnosticSwitches(settings, ini);
    registerCrashHandler();

    if (reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) != host::addr::kImageBase) {
        logLine(kBadBase);
        return;
    }
    if (!signatureMatches()) {
        logLine(kBadSignature);
        return;
    }
    if (!readEnabledSwitch(ini)) {
        logLine(kDisabledInIni);
        return;
    }
    readRemainingSettings(settings, ini);
    if (const std::uintptr_t changed = changedSite(); changed != 0) {
        logLine(kSitesChanged);
        reportJumpTarget(changed);
        return;
    }
    // The loader's thread must not see an exception: without the table nothing
    // is redirected, as if the first redirection had failed.
    try {
        createTrackingTable();
    } catch (...) {
        logLine(kNotInstalled);
        return;
    }

    bool redirected = true;
    for (const Redirection& r : kRedirections) {
        if (!redirectCall(r.site, r.replacement, r.slot)) {
            redirected = false;
            break;
        }
        reportDisplacedTarget(r.site, *r.slot);
    }
    logLine(redirected ? kActive : kNotInstalled);
}

void reportLaterChaining() {
    for (const Redirection& r : kRedirections) {
        if (r.site != host::addr::kGameProcessCall) {
            reportChangedSite(r.site, r.replacement);
        }
    }
}

} // namespace fendrix
