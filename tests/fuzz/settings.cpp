// Fuzzes the settings reader's text rules on arbitrary INI values: every key is
// read once; a float key stores its text's number clamped to the key's bounds,
// or its default when the whole text is not a finite number; a count stores
// its whole number clamped; a switch is on for any non-zero number; a missing
// value gives the default. The bounds are not copied from the key table: they
// are what the reader stores for values far out of range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "plugin/settings.h"

namespace {

using fendrix::Settings;
using fuzzinput::check;

constexpr std::size_t kMaxKeys = 64;
constexpr std::size_t kTextSize = 256;     // more than the reader ever asks for
constexpr std::size_t kIntTextSize = 30;   // GetPrivateProfileIntA reads at most this much
constexpr char kSeparator = '\n';          // one value per line of the input
constexpr const char* kFarBelow = "-1e30"; // below every float key's range
constexpr const char* kFarAbove = "1e30";
constexpr std::uint32_t kSmallest = 0;
constexpr std::uint32_t kLargest = 0xFFFFFFFFu; // a negative entry reads as this much
// Half an ulp above the largest float: the one double that rounds to infinity
// as a float although strtof may round the same text down.
constexpr double kHalfwayAboveFloats = 0x1.ffffffp+127;

enum class Type { Switch, Float, Whole };

template <typename T> constexpr Type typeOf() {
    if constexpr (std::is_same_v<T, bool>) {
        return Type::Switch;
    } else if constexpr (std::is_same_v<T, float>) {
        return Type::Float;
    } else {
        static_assert(std::is_same_v<T, std::uint32_t>);
        return Type::Whole;
    }
}

// A stored field and the key it is read from.
struct Field {
    const char* section;
    const char* key;
    Type type;
    void* (*at)(Settings&);
};

#define FX_FIELD(section, key, member)                                                             \
    Field {                                                                                        \
        section, key,                                                                              \
            typeOf<std::remove_reference_t<decltype(std::declval<Settings&>().member)>>(),         \
            [](Settings& s) -> void* { return &s.member; }                                         \
    }

const Field kFields[] = {
    FX_FIELD("General", "Diagnostics", Diagnostics),
    FX_FIELD("General", "LogHits", LogHits),
    FX_FIELD("General", "ResetKey", ResetKey),
    FX_FIELD("Deformation", "MinImpact", impact.MinImpact),
    FX_FIELD("Deformation", "ReferenceImpact", impact.ReferenceImpact),
    FX_FIELD("Deformation", "Strength", impact.Strength),
    FX_FIELD("Deformation", "ImpactExponent", impact.ImpactExponent),
    FX_FIELD("Deformation", "MaxDentPerHit", impact.MaxDentPerHit),
    FX_FIELD("Deformation", "MinRadius", impact.MinRadius),
    FX_FIELD("Deformation", "MaxRadius", impact.MaxRadius),
    FX_FIELD("Deformation", "MaxTotalDisplacement", MaxTotalDisplacement),
    FX_FIELD("Deformation", "FalloffPower", FalloffPower),
    FX_FIELD("Deformation", "DentNormals", DentNormals),
    FX_FIELD("Deformation", "ContactGapMs", ContactGapMs),
    FX_FIELD("Deformation", "PanelBending", PanelBending),
    FX_FIELD("Deformation", "PanelStrength", PanelStrength),
    FX_FIELD("Deformation", "PanelCrease", PanelCrease),
    FX_FIELD("Deformation", "PanelMaxCompression", PanelMaxCompression),
    FX_FIELD("Deformation", "PanelMaxLift", PanelMaxLift),
    FX_FIELD("Deformation", "PanelMinDepth", PanelMinDepth),
    FX_FIELD("Deformation", "PanelFollowBody", PanelFollowBody),
    FX_FIELD("Deformation", "PanelCreaseRandomness", PanelCreaseRandomness),
    FX_FIELD("Lights", "RearDamage", RearDamage),
    FX_FIELD("Lights", "RearMinDepth", RearMinDepth),
    FX_FIELD("PartRetention", "Enabled", PartRetentionEnabled),
    FX_FIELD("PartRetention", "AttemptsPerStage", AttemptsPerStage),
    FX_FIELD("Traffic", "AffectNPCs", AffectNPCs),
    FX_FIELD("Traffic", "NPCRange", NPCRange),
    FX_FIELD("Traffic", "MaxTrackedVehicles", MaxTrackedVehicles),
    FX_FIELD("Traffic", "MaxNPCPerFrame", MaxNPCPerFrame),
    FX_FIELD("Traffic", "MaxTotalVertices", MaxTotalVertices),
};
#undef FX_FIELD

constexpr std::size_t kFieldCount = std::size(kFields);

float floatAt(Settings& s, const Field& f) {
    return *static_cast<float*>(f.at(s));
}
std::uint32_t wholeAt(Settings& s, const Field& f) {
    return *static_cast<std::uint32_t*>(f.at(s));
}
bool switchAt(Settings& s, const Field& f) {
    return *static_cast<bool*>(f.at(s));
}

// By hand rather than strcmp: libFuzzer watches strcmp for hints, and key
// names are no hint for the values.
bool sameText(const char* a, const char* b) {
    if (a == b) {
        return true;
    }
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool sameKey(const char* section, const char* key, const char* otherSection, const char* otherKey) {
    return sameText(key, otherKey) && sameText(section, otherSection);
}

// One read as the source answered it.
struct Read {
    const char* section;
    const char* key;
    bool asText;
    bool empty;          // no value: the default is asked for
    std::uint32_t whole; // what readInt returned
    std::size_t lineStart, lineEnd;
    char text[kTextSize]; // what readText delivered
};

// Answers each read with the next line of the fuzzer's input, the way the
// private-profile functions answer: readInt parses a leading whole number (an
// empty value gives the default), readText cuts the text to the buffer.
class LineSource final : public fendrix::SettingsSource {
  public:
    LineSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint32_t readInt(const char* section, const char* key, int fallback) const override {
        Read& r = next(section, key, false);
        char text[kIntTextSize];
        line(r, text, sizeof text);
        r.whole = r.empty ? static_cast<std::uint32_t>(fallback)
                          : static_cast<std::uint32_t>(std::strtoll(text, nullptr, 10));
        return r.whole;
    }

    void readText(const char* section, const char* key, char* buffer,
                  std::uint32_t size) const override {
        Read& r = next(section, key, true);
        check(size > 0 && size <= kTextSize, "a text buffer of a sane size");
        std::memset(buffer, 0, size); // all of it: a buffer smaller than it claims is caught
        line(r, buffer, size);
        std::memcpy(r.text, buffer, size);
    }

    std::size_t count() const { return count_; }
    const Read& read(std::size_t i) const { return reads_[i]; }

  private:
    Read& next(const char* section, const char* key, bool asText) const {
        check(count_ < kMaxKeys, "a sane number of reads");
        Read& r = reads_[count_++];
        r.section = section;
        r.key = key;
        r.asText = asText;
        r.whole = 0;
        r.text[0] = '\0';
        // memchr rather than a loop: libFuzzer would trace every byte's comparison.
        r.lineStart = at_;
        const void* separator = std::memchr(data_ + at_, kSeparator, size_ - at_);
        r.lineEnd =
            separator
                ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(separator) - data_)
                : size_;
        at_ = separator ? r.lineEnd + 1 : size_;
        return r;
    }

    // The read's line up to its first NUL, cut to size - 1 characters.
    void line(Read& r, char* out, std::size_t size) const {
        std::size_t n = r.lineEnd - r.lineStart;
        if (n > size - 1) {
            n = size - 1;
        }
        if (const void* nul = std::memchr(data_ + r.lineStart, 0, n)) {
            n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data_) -
                r.lineStart;
        }
        std::memcpy(out, data_ + r.lineStart, n);
        out[n] = '\0';
        r.empty = n == 0;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    mutable std::size_t at_ = 0;
    mutable std::size_t count_ = 0;
    mutable Read reads_[kMaxKeys];
};

struct KeyName {
    const char* section;
    const char* key;
};

// Answers every key alike, except one, and notes the keys in reading order.
class FixedSource final : public fendrix::SettingsSource {
  public:
    struct Values {
        const char* text;
        std::uint32_t whole;
    };
    FixedSource(Values all, const Field* other = nullptr, Values otherValues = {})
        : all_(all), other_(other), otherValues_(otherValues) {}

    std::uint32_t readInt(const char* section, const char* key, int) const override {
        return valuesFor(section, key).whole;
    }
    void readText(const char* section, const char* key, char* buffer,
                  std::uint32_t size) const override {
        std::memset(buffer, 0, size);
        std::strncpy(buffer, valuesFor(section, key).text, size - 1);
    }
    const std::vector<KeyName>& order() const { return order_; }

  private:
    Values valuesFor(const char* section, const char* key) const {
        order_.push_back({section, key});
        return other_ && sameKey(section, key, other_->section, other_->key) ? otherValues_ : all_;
    }
    Values all_;
    const Field* other_;
    Values otherValues_;
    mutable std::vector<KeyName> order_;
};

void readAll(Settings& out, const fendrix::SettingsSource& source) {
    fendrix::readDiagnosticSwitches(out, source);
    fendrix::readEnabledSwitch(source);
    fendrix::readRemainingSettings(out, source);
}

// What the reader stores for each field at the ends of its range.
struct Bounds {
    float lowest, highest;
    float lowestWhenOthersHigh; // a lower bound that follows another key's value
};

constexpr std::size_t kNotRead = static_cast<std::size_t>(-1);

std::size_t indexOf(const std::vector<KeyName>& order, const char* section, const char* key) {
    std::size_t found = kNotRead;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (sameKey(section, key, order[i].section, order[i].key)) {
            check(found == kNotRead, "every key is read once");
            found = i;
        }
    }
    return found;
}

struct Reference {
    Settings defaults;
    Bounds bounds[kFieldCount];
    std::vector<KeyName> order; // the keys in reading order
    std::size_t fieldRead[kFieldCount];
    std::size_t gateRead;
};

const Reference& reference() {
    static const Reference r = [] {
        Reference built;
        Settings low, high;
        const FixedSource lowSource({kFarBelow, kSmallest});
        readAll(low, lowSource);
        readAll(high, FixedSource({kFarAbove, kLargest}));

        // Every key once, and nothing else.
        built.order = lowSource.order();
        const auto names = fendrix::settingKeyNames();
        check(built.order.size() == names.size(), "every key is read, and only the keys");
        for (const auto& name : names) {
            check(indexOf(built.order, name.section, name.key) != kNotRead, "every key is read");
        }
        built.gateRead = indexOf(built.order, "General", "Enabled");
        check(built.gateRead != kNotRead, "the master switch is read");

        for (std::size_t i = 0; i < kFieldCount; ++i) {
            const Field& f = kFields[i];
            built.fieldRead[i] = indexOf(built.order, f.section, f.key);
            check(built.fieldRead[i] != kNotRead, "every stored field has a key");
            Settings lowAmongHigh;
            readAll(lowAmongHigh, FixedSource({kFarAbove, kLargest}, &f, {kFarBelow, kSmallest}));
            Bounds& b = built.bounds[i];
            switch (f.type) {
            case Type::Float:
                b = {floatAt(low, f), floatAt(high, f), floatAt(lowAmongHigh, f)};
                break;
            case Type::Whole:
                b = {float(wholeAt(low, f)), float(wholeAt(high, f)),
                     float(wholeAt(lowAmongHigh, f))};
                break;
            case Type::Switch:
                b = {0, 1, 0};
                break;
            }
            check(b.lowest <= b.lowestWhenOthersHigh && b.lowestWhenOthersHigh <= b.highest,
                  "a key's range is not empty");
        }
        return built;
    }();
    return r;
}

// The float rule's oracle: strtod reads the same grammar as strtof; the text
// is accepted when all of it is read and the number is finite as a float.
// Returns false for the one double where rounding twice may differ.
bool floatTextOracle(const char* text, bool& accepted) {
    char* end = nullptr;
    const double d = std::strtod(text, &end);
    if (end == text || *end != '\0') {
        accepted = false;
        return true;
    }
    if (std::fabs(d) == kHalfwayAboveFloats) {
        return false;
    }
    accepted = std::isfinite(static_cast<float>(d));
    return true;
}

void checkFloatRule(const char* text) {
    bool expected = false;
    if (!floatTextOracle(text, expected)) {
        return;
    }
    constexpr float kUntouched = -12345.0f;
    float value = kUntouched;
    const bool accepted = fendrix::parseFloatText(text, value);
    check(accepted == expected, "the float rule accepts exactly whole finite numbers");
    if (accepted) {
        const float parsed = std::strtof(text, nullptr);
        check(std::memcmp(&value, &parsed, sizeof value) == 0,
              "an accepted text gives strtof's number");
    } else {
        check(value == kUntouched, "a refused text leaves the value alone");
    }
}

// A float key read from text: the number clamped into the key's range, or the
// default when the text is refused. `stored` is already converted to float
// (whole milliseconds stay whole).
void checkFromText(float stored, float fallback, const Bounds& b, const char* text, bool whole) {
    bool accepted = false;
    if (!floatTextOracle(text, accepted)) {
        return;
    }
    if (!accepted) {
        check(std::memcmp(&stored, &fallback, sizeof stored) == 0,
              "unusable text gives the default");
        return;
    }
    check(std::isfinite(stored), "a stored float is finite");
    check(stored >= b.lowest && stored <= b.highest, "a stored float is within its key's range");
    const float parsed = std::strtof(text, nullptr);
    if (whole) {
        check(stored == std::trunc(stored), "whole milliseconds");
        if (parsed >= b.lowestWhenOthersHigh + 1.0f && parsed <= b.highest) {
            check(stored == std::trunc(parsed), "a value within range is truncated, not moved");
        }
    } else {
        if (parsed >= b.lowestWhenOthersHigh && parsed <= b.highest) {
            check(stored == parsed, "a value within range is kept");
        }
        if (parsed <= b.highest) {
            check(stored >= parsed, "a value within range is never lowered");
        }
    }
    if (parsed > b.highest) {
        check(stored == b.highest, "a value above the range gives its upper end");
    }
    if (parsed < b.lowestWhenOthersHigh) {
        check(stored <= b.lowestWhenOthersHigh, "a value below the range gives its lower end");
    }
}

std::uint32_t clampWhole(std::uint32_t value, const Bounds& b) {
    const auto lower = static_cast<std::uint32_t>(b.lowest);
    const auto upper = static_cast<std::uint32_t>(b.highest);
    return value < lower ? lower : value > upper ? upper : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Reference& ref = reference();

    // The float rule on the first line of the input, as one text.
    {
        char text[kTextSize];
        std::size_t n = 0;
        while (n < size && n + 1 < sizeof text && data[n] != 0 && data[n] != kSeparator) {
            text[n] = static_cast<char>(data[n]);
            ++n;
        }
        text[n] = '\0';
        checkFloatRule(text);
    }

    const LineSource source(data, size);
    Settings read;
    fendrix::readDiagnosticSwitches(read, source);
    const bool enabled = fendrix::readEnabledSwitch(source);
    fendrix::readRemainingSettings(read, source);

    // The same keys in the same order whatever the values.
    check(source.count() == ref.order.size(), "every key is read once, whatever its value");
    for (std::size_t i = 0; i < ref.order.size(); ++i) {
        check(sameKey(source.read(i).section, source.read(i).key, ref.order[i].section,
                      ref.order[i].key),
              "every key is read once, whatever its value");
    }
    const Read& gate = source.read(ref.gateRead);
    check(!gate.asText && enabled == (gate.whole != 0),
          "the master switch is on for any non-zero number");

    Settings defaults = ref.defaults;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        const Field& f = kFields[i];
        const Read& a = source.read(ref.fieldRead[i]);
        const Bounds& b = ref.bounds[i];
        switch (f.type) {
        case Type::Switch:
            check(!a.asText, "a switch is a whole number");
            check(switchAt(read, f) == (a.whole != 0), "a switch is on for any non-zero number");
            break;
        case Type::Float:
            if (a.asText) {
                checkFloatRule(a.text);
                checkFromText(floatAt(read, f), floatAt(defaults, f), b, a.text, false);
            } else {
                check(floatAt(read, f) == float(clampWhole(a.whole, b)),
                      "a whole number kept as a float is clamped to its range");
            }
            break;
        case Type::Whole:
            if (a.asText) {
                checkFromText(float(wholeAt(read, f)), float(wholeAt(defaults, f)), b, a.text,
                              true);
            } else {
                check(wholeAt(read, f) == clampWhole(a.whole, b),
                      "a count is clamped to its range");
            }
            break;
        }
        if (a.empty) {
            const std::size_t bytes = f.type == Type::Switch ? sizeof(bool) : sizeof(float);
            check(std::memcmp(f.at(read), f.at(defaults), bytes) == 0,
                  "a missing value gives the default");
        }
    }

    // The ranges that follow another key.
    check(read.impact.ReferenceImpact > read.impact.MinImpact,
          "the reference impact lies above the minimum impact");
    check(read.impact.MaxRadius >= read.impact.MinRadius,
          "the largest radius is not below the smallest");
    return 0;
}
