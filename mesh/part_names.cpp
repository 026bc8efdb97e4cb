#include "mesh/part_names.h"

#include <cctype>
#include <cstring>
#include <string>

#include "host/game.h"

namespace fendrix {

namespace {

constexpr const char* kExcludedFragments[] = {"wheel", "exhaust", "misc", "ug_", "chassis_vlo"};

struct PanelPrefix {
    const char* prefix;
    PanelKind kind;
};
constexpr PanelPrefix kPanelPrefixes[] = {
    {"bonnet", PanelKind::Bonnet},
    {"hood", PanelKind::Bonnet},
    {"boot", PanelKind::Boot},
    {"trunk", PanelKind::Boot},
};

// A private case-folded copy; the host's names are never touched.
std::string foldedName(host::Frame* frame) {
    const char* name = game::frameName(frame);
    std::string folded = name != nullptr ? name : "";
    for (char& c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded;
}

} // namespace

bool isExcludedPart(host::Frame* frame) {
    for (int examined = 1; frame != nullptr; ++examined) {
        const std::string name = foldedName(frame);
        for (const char* fragment : kExcludedFragments) {
            if (name.find(fragment) != std::string::npos) {
                return true;
            }
        }
        if (examined == kMaxFramesExamined) {
            return false;
        }
        frame = frame->parent;
    }
    return false;
}

PanelKind panelKindOf(host::Frame* frame) {
    for (int examined = 1; frame != nullptr; ++examined) {
        const std::string name = foldedName(frame);
        for (const PanelPrefix& p : kPanelPrefixes) {
            if (!name.empty() && name.compare(0, std::strlen(p.prefix), p.prefix) == 0) {
                return p.kind;
            }
        }
        if (examined == kMaxFramesExamined) {
            return PanelKind::None;
        }
        frame = frame->parent;
    }
    return PanelKind::None;
}

} // namespace fendrix
