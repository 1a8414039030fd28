// The reserved mount names that bind a rover to the nearest online base.
#pragma once

// True when the mount begins with "NEAREST" (7 characters), "RTCM32_ZedOz" or
// "RTCM32_VODIR" (12 characters): how rover login, the rover counts, base
// offline and the re-binding pass tell a virtual-mount rover. Null gives false.
bool VirtualMount_HasPrefix(const char* mount);

// True when the mount is exactly one of the three names: the names no base may take.
bool VirtualMount_IsReserved(const char* mount);
