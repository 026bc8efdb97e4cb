#pragma once
// Which meshes may be dented, and which are bonnets and boots, from the names
// of a mesh's frame and its ancestors.
#include <cstdint>

#include "host/records.h"

namespace fendrix {

enum class PanelKind : std::int32_t { None = 0, Bonnet = 1, Boot = 2 };

// Frames examined per walk: the mesh's own frame and 23 ancestors.
inline constexpr int kMaxFramesExamined = 24;

// True when a frame on the way up names a part that is never dented.
bool isExcludedPart(host::Frame* frame);
// The kind of the nearest frame whose name decides; None when none does.
PanelKind panelKindOf(host::Frame* frame);

} // namespace fendrix
