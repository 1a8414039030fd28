// The software-name test of rover login.
#include "caster/session/RoverLogin.h"

#include <gtest/gtest.h>

TEST(SoftwareName, IsFoundAnywhereInTheTrimmedAgentInAnyCase)
{
    struct Case {
        const char* agent;
        bool accepted;
    } cases[] = {
        {"Tarnek", true},
        {"  NTRIP tarnek/2.0 \r\n", true},
        {"NTRIP GNSSInternetRadio/1.4.10", true},
        {"ntrip gnssinternetradio/1.4.10 extra", true},
        {"NTRIP GNSSInternetRadio/1.4.9", false},
        {"NTRIP RTKLIB/2.4.3", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.accepted, Ntrip::RoverLogin_SoftwareNameAccepted(c.agent)) << c.agent;
    EXPECT_FALSE(Ntrip::RoverLogin_SoftwareNameAccepted(nullptr));
}
