#pragma once
// The vectored exception handler that writes a two-line crash report.

namespace fendrix {

// Registers the handler last in the chain; it stays registered for good.
void registerCrashHandler();

} // namespace fendrix
