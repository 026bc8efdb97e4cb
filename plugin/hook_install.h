#pragma once
// Installation of the function hooks on the first frame, in two groups that
// are each wholly active or wholly absent.

namespace fendrix {

// Contact hooks (three collision paths) and the two lifecycle hooks.
void installContactHooks();
// The two part-retention hooks; independent of the first group.
void installRetentionHooks();

// Set once, never cleared.
extern bool contactInstallAttempted;
extern bool contactHooksActive;
extern bool retentionInstallAttempted;

} // namespace fendrix
