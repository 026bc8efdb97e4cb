#pragma once
// The log lines of the first frame's hook installations, as the tests that
// drive them (through the loaded plug-in and in-process) expect them.
#include <cstdint>
#include <cstdio>
#include <string>

namespace hook_lines {

inline constexpr char kContactInitFailed[] = "Contact hooks: initialization failed; disabled.";
inline constexpr char kLifecycleActive[] =
    "Lifecycle hooks active: cleanup before CGame::Shutdown and ShutDownForRestart.";
inline constexpr char kContactActive[] =
    "Contact hooks active: static, two-body and alternate collision paths; original physics "
    "preserved.";
inline constexpr char kActivationFailed[] = "Contact hook activation failed; deformation disabled.";
inline constexpr char kRetentionConflict[] =
    "Part retention: hook conflict/failure; stock detachment retained.";
inline constexpr char kRetentionActivationFailed[] =
    "Part retention: activation failed; stock detachment retained.";
// AttemptsPerStage as the key table has it by default.
inline constexpr unsigned kDefaultAttempts = 4;

inline std::string retentionActive(unsigned attempts) {
    char line[160];
    std::snprintf(
        line, sizeof line,
        "Part retention active: %u separate attempts per delayed stage; 750 ms contact gap.",
        attempts);
    return line;
}

inline std::string creationFailed(std::uintptr_t target, const char* status) {
    char line[128];
    std::snprintf(line, sizeof line, "Contact hook %08lX failed: %s; deformation disabled.",
                  static_cast<unsigned long>(target), status);
    return line;
}

} // namespace hook_lines
