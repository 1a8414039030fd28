#include "caster/registry/VirtualMount.h"

#include <gtest/gtest.h>

TEST(VirtualMount, PrefixAndWholeName)
{
    struct Case {
        const char* mount;
        bool prefix, reserved;
    } cases[] = {
        {"NEAREST", true, true},
        {"NEARESTxyz", true, false},
        {"NEARES", false, false},
        {"nearest", false, false},
        {"RTCM32_ZedOz", true, true},
        {"RTCM32_ZedOz_2", true, false},
        {"RTCM32_ZedO", false, false},
        {"RTCM32_VODIR", true, true},
        {"RTCM32_VODIRX", true, false},
        {"RTCM32_VOD", false, false},
        {"RTCM32", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.prefix, VirtualMount_HasPrefix(c.mount)) << c.mount;
        EXPECT_EQ(c.reserved, VirtualMount_IsReserved(c.mount)) << c.mount;
    }
    EXPECT_FALSE(VirtualMount_HasPrefix(nullptr));
    EXPECT_FALSE(VirtualMount_IsReserved(nullptr));
}
