#pragma once
// The read-only settings record, filled once at start-up from the INI file.
// Field names are the INI keys.
#include <cstdint>
#include <vector>

#include "contacts/impact_config.h"

namespace fendrix {

struct Settings {
    Settings(); // every field at its default from the key table

    // General
    bool Diagnostics;
    bool LogHits;
    std::uint32_t ResetKey; // virtual-key code of the key that restores the player's car
    // Deformation
    dent::ImpactConfig impact;
    float MaxTotalDisplacement;
    float FalloffPower;
    bool DentNormals;
    std::uint32_t ContactGapMs;
    bool PanelBending;
    float PanelStrength;
    float PanelCrease;
    float PanelMaxCompression;
    float PanelMaxLift;
    float PanelMinDepth;
    bool PanelFollowBody;
    float PanelCreaseRandomness;
    // Lights
    bool RearDamage;
    float RearMinDepth;
    // PartRetention (its key is "Enabled")
    bool PartRetentionEnabled;
    std::uint32_t AttemptsPerStage;
    // Traffic
    bool AffectNPCs;
    float NPCRange; // read as a whole number
    std::uint32_t MaxTrackedVehicles;
    std::uint32_t MaxNPCPerFrame;
    std::uint32_t MaxTotalVertices;
};

// The process-wide settings; nothing writes them after start-up.
extern Settings settings;

// Where the values come from: the private-profile functions in the plug-in, a
// table of texts in tests.
class SettingsSource {
  public:
    virtual ~SettingsSource() = default;
    // As GetPrivateProfileIntA: the key's whole-number value or the default.
    virtual std::uint32_t readInt(const char* section, const char* key, int fallback) const = 0;
    // As GetPrivateProfileStringA with an empty default: the key's text, cut to
    // size - 1 characters and terminated.
    virtual void readText(const char* section, const char* key, char* buffer,
                          std::uint32_t size) const = 0;
};

// The two General switches, read before the host checks.
void readDiagnosticSwitches(Settings& out, const SettingsSource& source);
// The master switch (General / Enabled); not stored.
bool readEnabledSwitch(const SettingsSource& source);
// Every other key, in reading order, after the host checks.
void readRemainingSettings(Settings& out, const SettingsSource& source);

// Section and name of every key, in reading order (for checking INI files).
struct SettingKeyName {
    const char* section;
    const char* key;
};
std::vector<SettingKeyName> settingKeyNames();

// The float rule: the whole text must convert to a finite number.
bool parseFloatText(const char* text, float& value);

} // namespace fendrix
