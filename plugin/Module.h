// Module-wide state of the in-process server.
#pragma once

#include <windows.h>

namespace qz410 {

// The library's own instance: the instance of its dialog templates, bitmaps
// and strings. Written once at process attach.
extern HINSTANCE moduleInstance;

// Plug-in objects in existence and outstanding LockServer locks; changed only
// atomically. DllCanUnloadNow answers S_OK only when both are zero.
extern volatile LONG liveObjectCount;
extern volatile LONG serverLockCount;

}  // namespace qz410
