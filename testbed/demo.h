#pragma once
// The demo: a game session with the shipped INI, printed to standard output,
// and pictures of the cars' meshes before and after the hits.
#include <string>

namespace testbed {

// Writes the pictures into this folder (created as needed).
int runDemo(const std::string& picturesDir);

} // namespace testbed
