#include "plugin/settings.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace fendrix {

Settings settings;

namespace {

enum class Kind {
    Switch,       // whole number, non-zero = on
    Float,        // text converted with strtof, then clamped
    FloatMs,      // float text, clamped, then truncated to whole milliseconds
    Count,        // whole number, clamped as unsigned
    CountAsFloat, // whole number, clamped as unsigned, stored as float
    Gate,         // whole number, 0 stops start-up; not stored
};

inline constexpr std::size_t kNotStored = static_cast<std::size_t>(-1);
inline constexpr std::size_t kNoDependency = static_cast<std::size_t>(-1);
// Default reset key; the virtual-key code of F7, spelt out to keep Windows headers out.
inline constexpr float kVirtualKeyF7 = 0x76;

struct Key {
    const char* section;
    const char* name;
    Kind kind;
    float fallback; // the default, for every kind
    float lower;
    float upper;
    std::size_t field;     // offset in Settings
    std::size_t lowerFrom; // offset of a float whose stored value raises the lower bound
    float lowerMargin;     // added to that stored value
};

static_assert(std::is_standard_layout_v<Settings>);

#define FX_FIELD(member) offsetof(Settings, member)
#define FX_IMPACT(member) (offsetof(Settings, impact) + offsetof(dent::ImpactConfig, member))

// Every key in reading order, with its default and inclusive bounds.
constexpr Key kKeys[] = {
    {"General", "Diagnostics", Kind::Switch, 0, 0, 0, FX_FIELD(Diagnostics), kNoDependency, 0},
    {"General", "LogHits", Kind::Switch, 1, 0, 0, FX_FIELD(LogHits), kNoDependency, 0},
    {"General", "Enabled", Kind::Gate, 1, 0, 0, kNotStored, kNoDependency, 0},
    {"General", "ResetKey", Kind::Count, kVirtualKeyF7, 0x01, 0xFE, FX_FIELD(ResetKey),
     kNoDependency, 0},
    {"Deformation", "MinImpact", Kind::Float, 0.04f, 0.005f, 0.3f, FX_IMPACT(MinImpact),
     kNoDependency, 0},
    {"Deformation", "ReferenceImpact", Kind::Float, 0.65f, 0, 3.0f, FX_IMPACT(ReferenceImpact),
     FX_IMPACT(MinImpact), 0.01f},
    {"Deformation", "Strength", Kind::Float, 1.0f, 0.1f, 3.0f, FX_IMPACT(Strength), kNoDependency,
     0},
    {"Deformation", "ImpactExponent", Kind::Float, 1.15f, 0.5f, 2.0f, FX_IMPACT(ImpactExponent),
     kNoDependency, 0},
    {"Deformation", "MaxDentPerHit", Kind::Float, 0.65f, 0.05f, 1.2f, FX_IMPACT(MaxDentPerHit),
     kNoDependency, 0},
    {"Deformation", "MinRadius", Kind::Float, 1.1f, 0.3f, 2.0f, FX_IMPACT(MinRadius), kNoDependency,
     0},
    {"Deformation", "MaxRadius", Kind::Float, 2.25f, 0, 3.5f, FX_IMPACT(MaxRadius),
     FX_IMPACT(MinRadius), 0},
    {"Deformation", "MaxTotalDisplacement", Kind::Float, 1.05f, 0.1f, 1.6f,
     FX_FIELD(MaxTotalDisplacement), kNoDependency, 0},
    {"Deformation", "FalloffPower", Kind::Float, 0.65f, 0.35f, 2.0f, FX_FIELD(FalloffPower),
     kNoDependency, 0},
    {"Deformation", "DentNormals", Kind::Switch, 1, 0, 0, FX_FIELD(DentNormals), kNoDependency, 0},
    {"Deformation", "ContactGapMs", Kind::FloatMs, 180, 50, 1000, FX_FIELD(ContactGapMs),
     kNoDependency, 0},
    {"Deformation", "PanelBending", Kind::Switch, 1, 0, 0, FX_FIELD(PanelBending), kNoDependency,
     0},
    {"Deformation", "PanelStrength", Kind::Float, 1.0f, 0.1f, 2.0f, FX_FIELD(PanelStrength),
     kNoDependency, 0},
    {"Deformation", "PanelCrease", Kind::Float, 0.5f, 0.35f, 0.65f, FX_FIELD(PanelCrease),
     kNoDependency, 0},
    {"Deformation", "PanelMaxCompression", Kind::Float, 0.4f, 0.05f, 0.45f,
     FX_FIELD(PanelMaxCompression), kNoDependency, 0},
    {"Deformation", "PanelMaxLift", Kind::Float, 0.55f, 0.05f, 0.9f, FX_FIELD(PanelMaxLift),
     kNoDependency, 0},
    {"Deformation", "PanelMinDepth", Kind::Float, 0.06f, 0.0f, 0.2f, FX_FIELD(PanelMinDepth),
     kNoDependency, 0},
    {"Deformation", "PanelFollowBody", Kind::Switch, 1, 0, 0, FX_FIELD(PanelFollowBody),
     kNoDependency, 0},
    {"Deformation", "PanelCreaseRandomness", Kind::Float, 0.12f, 0.0f, 0.15f,
     FX_FIELD(PanelCreaseRandomness), kNoDependency, 0},
    {"Lights", "RearDamage", Kind::Switch, 1, 0, 0, FX_FIELD(RearDamage), kNoDependency, 0},
    {"PartRetention", "Enabled", Kind::Switch, 1, 0, 0, FX_FIELD(PartRetentionEnabled),
     kNoDependency, 0},
    {"PartRetention", "AttemptsPerStage", Kind::Count, 4, 1, 12, FX_FIELD(AttemptsPerStage),
     kNoDependency, 0},
    {"Lights", "RearMinDepth", Kind::Float, 0.08f, 0.01f, 0.5f, FX_FIELD(RearMinDepth),
     kNoDependency, 0},
    {"Traffic", "AffectNPCs", Kind::Switch, 1, 0, 0, FX_FIELD(AffectNPCs), kNoDependency, 0},
    {"Traffic", "NPCRange", Kind::CountAsFloat, 100, 20, 200, FX_FIELD(NPCRange), kNoDependency, 0},
    {"Traffic", "MaxTrackedVehicles", Kind::Count, 64, 16, 128, FX_FIELD(MaxTrackedVehicles),
     kNoDependency, 0},
    {"Traffic", "MaxNPCPerFrame", Kind::Count, 32, 1, 64, FX_FIELD(MaxNPCPerFrame), kNoDependency,
     0},
    {"Traffic", "MaxTotalVertices", Kind::Count, 400000, 50000, 1000000, FX_FIELD(MaxTotalVertices),
     kNoDependency, 0},
};

#undef FX_FIELD
#undef FX_IMPACT

inline constexpr std::size_t kDiagnosticKeys = 2; // Diagnostics, LogHits
inline constexpr std::size_t kGateKey = 2;        // General / Enabled
inline constexpr std::size_t kFloatTextSize = 80;

template <typename T> T& fieldOf(Settings& s, std::size_t offset) {
    return *reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(&s) + offset);
}

// Below the lower bound gives the lower bound, otherwise the smaller of the
// value and the upper bound.
template <typename T> T clampTo(T value, T lower, T upper) {
    if (value < lower) {
        return lower;
    }
    return upper < value ? upper : value;
}

void storeDefault(Settings& s, const Key& key) {
    switch (key.kind) {
    case Kind::Switch:
        fieldOf<bool>(s, key.field) = key.fallback != 0.0f;
        break;
    case Kind::Float:
    case Kind::CountAsFloat:
        fieldOf<float>(s, key.field) = key.fallback;
        break;
    case Kind::FloatMs:
    case Kind::Count:
        fieldOf<std::uint32_t>(s, key.field) = static_cast<std::uint32_t>(key.fallback);
        break;
    case Kind::Gate:
        break;
    }
}

void readKey(Settings& s, const Key& key, const SettingsSource& source) {
    const int fallback = static_cast<int>(key.fallback);
    switch (key.kind) {
    case Kind::Switch:
        fieldOf<bool>(s, key.field) = source.readInt(key.section, key.name, fallback) != 0;
        return;
    case Kind::Count:
    case Kind::CountAsFloat: {
        // Unsigned on purpose: a negative entry reads as a huge count and ends at the upper bound.
        const std::uint32_t value =
            clampTo(source.readInt(key.section, key.name, fallback),
                    static_cast<std::uint32_t>(key.lower), static_cast<std::uint32_t>(key.upper));
        if (key.kind == Kind::Count) {
            fieldOf<std::uint32_t>(s, key.field) = value;
        } else {
            fieldOf<float>(s, key.field) = static_cast<float>(value);
        }
        return;
    }
    case Kind::Float:
    case Kind::FloatMs: {
        char text[kFloatTextSize] = {};
        source.readText(key.section, key.name, text, sizeof text);
        float value = 0.0f;
        if (!parseFloatText(text, value)) {
            storeDefault(s, key); // unusable text: the default, unclamped
            return;
        }
        float lower = key.lower;
        if (key.lowerFrom != kNoDependency) {
            lower = fieldOf<float>(s, key.lowerFrom) + key.lowerMargin;
        }
        value = clampTo(value, lower, key.upper);
        if (key.kind == Kind::Float) {
            fieldOf<float>(s, key.field) = value;
        } else {
            fieldOf<std::uint32_t>(s, key.field) = static_cast<std::uint32_t>(value);
        }
        return;
    }
    case Kind::Gate:
        return;
    }
}

} // namespace

Settings::Settings() {
    for (const Key& key : kKeys) {
        storeDefault(*this, key);
    }
}

bool parseFloatText(const char* text, float& value) {
    char* end = nullptr;
    const float parsed = std::strtof(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

std::vector<SettingKeyName> settingKeyNames() {
    std::vector<SettingKeyName> names;
    for (const Key& key : kKeys) {
        names.push_back({key.section, key.name});
    }
    return names;
}

void readDiagnosticSwitches(Settings& out, const SettingsSource& source) {
    for (std::size_t i = 0; i < kDiagnosticKeys; ++i) {
        readKey(out, kKeys[i], source);
    }
}

bool readEnabledSwitch(const SettingsSource& source) {
    const Key& gate = kKeys[kGateKey];
    return source.readInt(gate.section, gate.name, static_cast<int>(gate.fallback)) != 0;
}

void readRemainingSettings(Settings& out, const SettingsSource& source) {
    for (std::size_t i = kGateKey + 1; i < std::size(kKeys); ++i) {
        readKey(out, kKeys[i], source);
    }
}

} // namespace fendrix
