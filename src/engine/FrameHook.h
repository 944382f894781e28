#pragma once
// Loader of frame-hook plug-ins (see kelto_framehook.h). The plug-in list is process-wide.

#include <cstdint>

#include "engine/kelto_framehook.h"

// Loads the plug-in argv[0] (once per file name), configures it with the arguments and
// appends it to the list. 0, or -2 (no arguments, entry point missing), -1 (cannot be
// loaded), -12 (out of memory), -22 (Configure failed).
int FrameHookAdd(int argc, char* argv[]);
// Calls Process of every plug-in in list order.
void FrameHookProcess(KeltoHookPicture* picture, int pixFmt, int width, int height, int64_t pts);
// Calls Release of every plug-in in list order and empties the list.
void FrameHookRelease();
// Number of plug-ins in the list.
int FrameHookCount();
