#pragma once
// Start-up on process attach: paths, header line, settings, crash handler,
// host identity checks and the three call-site redirections.

namespace fendrix {

// Runs once in the loader's thread; never fails towards the loader.
void startup(void* module);

// First frame: names the module of another mod that redirected one of the two
// shutdown calls after start-up (the frame's own call reached FendrixVC).
void reportLaterChaining();

} // namespace fendrix
