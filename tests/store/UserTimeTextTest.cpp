// Account dates and periods are read with every field in range, so no text
// an operator types can overflow the login's date arithmetic.
#include "store/UserTimeText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

TEST(UserTimeParse, ReadsOnlyDatesWithEveryFieldInRange)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"2030/1/1 0:0:0", true},
        {"2024/7/31 00:00:00", true},
        {"2030/12/31 23:59:59", true},
        {"1970/1/1 0:0:0", true},
        {"9999/12/31 23:59:59", true},
        {"  2030/1/1   0:0:0", true},
        {"-2147483648/1/1 0:0:0", false},
        {"2030/-2147483648/1 0:0:0", false},
        {"2030/1/1 0:0:99999999999", false},
        {"1969/12/31 23:59:59", false},
        {"10000/1/1 0:0:0", false},
        {"2030/13/1 0:0:0", false},
        {"2030/0/1 0:0:0", false},
        {"2030/1/32 0:0:0", false},
        {"2030/1/0 0:0:0", false},
        {"2030/1/1 24:0:0", false},
        {"2030/1/1 0:60:0", false},
        {"2030/1/1 0:0:60", false},
        {"2030/1/1", false},
        {"2030-01-01 00:00:00", false},
        {"", false},
        {"never", false},
    };
    for (const Case& c : cases) {
        UserTime t = {};
        EXPECT_EQ(UserTime_Parse(c.text, &t), c.valid) << c.text;
    }
    UserTime t = {};
    ASSERT_TRUE(UserTime_Parse("2024/7/31 08:05:09", &t));
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 7);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.hour, 8);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 9);
}

TEST(UserRecordCheckTexts, RefusesTextsThatCannotBeStoredOrRead)
{
    struct Case {
        const char* name;
        const char* expiry;
        const char* firstLogin;
        int32_t period;
        UserTextsResult want;
    } cases[] = {
        {"rover", "2030/1/1 0:0:0", "", 30, USER_TEXTS_OK},
        {"rover", "", "", 0, USER_TEXTS_OK},
        {"\xC3\xA9t\xC3\xA9", "2030/1/1 0:0:0", "2024/1/1 0:0:0", USER_PERIOD_MAX_DAYS, USER_TEXTS_OK},
        {"bad\xFF", "2030/1/1 0:0:0", "", 30, USER_TEXTS_NOT_UTF8},
        {"rover", "-2147483648/1/1 0:0:0", "", 30, USER_TEXTS_BAD_TIME},
        {"rover", "2030/1/1 0:0:0", "2030/1/1", 30, USER_TEXTS_BAD_TIME},
        {"rover", "2030/1/1 0:0:0", "", 2147483647, USER_TEXTS_BAD_PERIOD},
        {"rover", "2030/1/1 0:0:0", "", -1, USER_TEXTS_BAD_PERIOD},
    };
    for (const Case& c : cases) {
        UserRecord r;
        memset(&r, 0, sizeof r);
        snprintf(r.name, sizeof r.name, "%s", c.name);
        snprintf(r.expiredatetime, sizeof r.expiredatetime, "%s", c.expiry);
        snprintf(r.firstonlinetime, sizeof r.firstonlinetime, "%s", c.firstLogin);
        r.activationperiod = c.period;
        EXPECT_EQ(UserRecord_CheckTexts(&r), c.want) << c.name << " " << c.expiry << " " << c.period;
    }
}
