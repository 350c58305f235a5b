#pragma once
// Whether a desktop can be reached, so that a program with a stale DISPLAY
// (a closed X session, a broken forwarding) falls back to the console
// instead of failing inside the toolkit.

#include <string>

namespace platform {

// True when WAYLAND_DISPLAY or DISPLAY names a display whose socket answers.
// *name tells which display was looked at (empty when none is set).
bool DisplayReachable(std::string* name);

}  // namespace platform
