#include "bench/legend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bench/font.h"

namespace bench {

namespace {

constexpr float kChannelMax = 255.0f;

// The ramp starts from a neutral grey: parts have colours of their own.
constexpr Rgb kRampUnmoved{205, 205, 210};
constexpr Rgb kInk{30, 30, 36};
constexpr Rgb kRule{170, 170, 178};
constexpr char kTitle[] = "moved (game units)";

constexpr int kTextScale = 2;
constexpr int kTextHeight = kGlyphHeight * kTextScale;
constexpr int kPadding = 6;
constexpr int kTitleGap = 4;
constexpr int kRampHeight = 12;
constexpr int kTickLength = 4;
constexpr int kTickWidth = 2;
constexpr int kLabelGap = 2;
constexpr int kStripHeight = kPadding + kTextHeight + kTitleGap + kRampHeight + kTickLength +
                             kLabelGap + kTextHeight + kPadding;

// Tick labels get the fewest decimals (two to four) that show half the scale exactly.
constexpr int kFewestDecimals = 2;
constexpr int kMostDecimals = 4;
constexpr double kDecimalTolerance = 1e-3; // of the last decimal's unit
constexpr float kHalf = 0.5f;

float usableFullScale(float fullScale) {
    return std::isfinite(fullScale) && fullScale > 0 ? fullScale : kDefaultFullScale;
}

int decimalsFor(float value) {
    for (int decimals = kFewestDecimals; decimals < kMostDecimals; ++decimals) {
        const double shifted = static_cast<double>(value) * std::pow(10.0, decimals);
        if (std::fabs(shifted - std::round(shifted)) < kDecimalTolerance) {
            return decimals;
        }
    }
    return kMostDecimals;
}

std::string formatted(float value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
    return text;
}

void fillRect(RgbImage& image, int x0, int y0, int x1, int y1, Rgb colour) {
    for (int y = std::max(0, y0); y < std::min(image.height, y1); ++y) {
        for (int x = std::max(0, x0); x < std::min(image.width, x1); ++x) {
            image.at(x, y) = colour;
        }
    }
}

} // namespace

float displacementFraction(float distance, float fullScale) {
    if (!(distance > 0)) {
        return 0.0f;
    }
    return std::min(distance / usableFullScale(fullScale), 1.0f);
}

Rgb displacementColour(Rgb unmoved, float fraction) {
    const float t = std::clamp(fraction, 0.0f, 1.0f);
    const auto channel = [t](std::uint8_t from, std::uint8_t to) {
        const float f = static_cast<float>(from) + (static_cast<float>(to) - from) * t;
        return static_cast<std::uint8_t>(std::lround(std::clamp(f, 0.0f, kChannelMax)));
    };
    return {channel(unmoved.r, kDisplacedRed.r), channel(unmoved.g, kDisplacedRed.g),
            channel(unmoved.b, kDisplacedRed.b)};
}

std::vector<std::string> legendTicks(float fullScale) {
    const float full = usableFullScale(fullScale);
    const int decimals = decimalsFor(full * kHalf);
    return {"0", formatted(full * kHalf, decimals), formatted(full, decimals)};
}

int legendHeight() {
    return kStripHeight;
}

void drawLegend(RgbImage& image, int top, float fullScale) {
    const std::vector<std::string> ticks = legendTicks(fullScale);
    int widestTick = 0;
    for (const std::string& tick : ticks) {
        widestTick = std::max(widestTick, textWidth(tick, kTextScale));
    }
    // Labels are centred on their ticks, so the ramp leaves room for half of one at each end.
    const int left = std::max(kPadding, widestTick / 2 + kPadding);
    const int right = image.width - left;
    if (right <= left) {
        return; // too narrow for a ramp
    }
    fillRect(image, 0, top, image.width, top + 1, kRule);
    const int titleTop = top + kPadding;
    drawText(image, left, titleTop, kTitle, kInk, kTextScale);

    const int rampTop = titleTop + kTextHeight + kTitleGap;
    const int span = right - left;
    for (int x = left; x < right; ++x) {
        const float fraction = static_cast<float>(x - left) / static_cast<float>(span - 1);
        fillRect(image, x, rampTop, x + 1, rampTop + kRampHeight,
                 displacementColour(kRampUnmoved, span > 1 ? fraction : 1.0f));
    }
    const int tickTop = rampTop + kRampHeight;
    const int labelTop = tickTop + kTickLength + kLabelGap;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const int at = left + static_cast<int>(std::lround(static_cast<float>(span - kTickWidth) *
                                                           static_cast<float>(i) /
                                                           static_cast<float>(ticks.size() - 1)));
        fillRect(image, at, tickTop, at + kTickWidth, tickTop + kTickLength, kInk);
        const int labelLeft = at + kTickWidth / 2 - textWidth(ticks[i], kTextScale) / 2;
        drawText(image, labelLeft, labelTop, ticks[i], kInk, kTextScale);
    }
}

} // namespace bench
