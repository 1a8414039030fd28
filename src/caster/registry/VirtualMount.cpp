#include "caster/registry/VirtualMount.h"

#include <cstring>

bool VirtualMount_HasPrefix(const char* mount)
{
    if (mount == nullptr) return false;
    return strncmp(mount, "NEAREST", 7) == 0 || strncmp(mount, "RTCM32_ZedOz", 12) == 0 ||
           strncmp(mount, "RTCM32_VODIR", 12) == 0;
}

bool VirtualMount_IsReserved(const char* mount)
{
    if (mount == nullptr) return false;
    return strcmp(mount, "NEAREST") == 0 || strcmp(mount, "RTCM32_ZedOz") == 0 ||
           strcmp(mount, "RTCM32_VODIR") == 0;
}
