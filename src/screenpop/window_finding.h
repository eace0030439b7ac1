// Finding the windows of another program by title or class name, waiting for
// one to appear, and the waits that keep the caller's thread responsive.
#pragma once

#include "base/platform.h"
#include "base/text.h"
#include "screenpop/desktop.h"

namespace ledra {

// The first window among the top-level windows (parent 0) or among parent's
// direct children whose title contains the pattern, its "*" removed, in any
// case; 0 when none does. A process other than 0 limits the search to that
// process's windows.
Desktop::Window FindWindowTitle(const Text& title, Desktop::Window parent, uint32_t process = 0);
// The same on the window class name, which must begin with class_name.
Desktop::Window FindWindowClassEx(const Text& class_name, Desktop::Window parent, uint32_t process = 0);
// Looks by title until a window turns up or timeout seconds pass, handling
// the thread's messages between attempts.
Desktop::Window FindWindowWait(const Text& title, float timeout, Desktop::Window parent, uint32_t process = 0);

// Lets the thread handle its pending window messages.
void ProcessMessages();
// Waits the given seconds while handling the thread's messages.
void Pause(float seconds);

}  // namespace ledra
