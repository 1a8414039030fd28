// The caster's time texts.
#include "runtime/TimeText.h"
#include "platform/LocalTime.h"
#include "support/FrozenClock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

TEST(TimeText, IsTheLocalTimeCutToTheBuffer)
{
    FrozenClock clock(PlatformLocalTime{2026, 7, 4, 8, 9, 5, 0, 0});
    char text[30];
    GetTimeString(text, sizeof(text));
    EXPECT_STREQ("2026-07-04 08:09:05", text);
    char small[8];
    memset(small, 'x', sizeof(small));
    GetTimeString(small, sizeof(small));
    EXPECT_STREQ("2026-07", small);
    char one[1] = {'x'};
    GetTimeString(one, 1);  // no room for a character: untouched
    EXPECT_EQ('x', one[0]);
    GetTimeString(nullptr, 30);
}

TEST(TimeText, ReadsBackAsTheMomentItNames)
{
    EXPECT_EQ(0, ParseTimeString(nullptr));
    EXPECT_EQ(0, ParseTimeString(""));

    // Summer and winter alike: the text of a moment reads back as that moment.
    for (time_t moment : {static_cast<time_t>(1782900000), static_cast<time_t>(1798700000)}) {
        struct tm local;
        localtime_r(&moment, &local);
        char text[32];
        strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
        EXPECT_EQ(static_cast<int64_t>(moment), ParseTimeString(text)) << text;
    }
}
