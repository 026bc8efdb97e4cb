#include "mesh/part_names.h"

#include "host/game.h"
#include "mesh/name_match.h"

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

} // namespace

bool isExcludedPart(host::Frame* frame) {
    for (int examined = 1; frame != nullptr; ++examined) {
        const char* name = game::frameName(frame);
        for (const char* fragment : kExcludedFragments) {
            if (dent::containsFolded(name, fragment)) {
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
        const char* name = game::frameName(frame);
        for (const PanelPrefix& p : kPanelPrefixes) {
            if (dent::startsWithFolded(name, p.prefix)) {
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
