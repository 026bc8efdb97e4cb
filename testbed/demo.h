#pragma once
// The demo: a game session with the shipped INI, printed to standard output.

namespace testbed {

int runDemo();

} // namespace testbed
