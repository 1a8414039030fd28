// What the inspector's add takes from a request body: every member is read
// only after its type and range are checked, and an account with a text that
// is not UTF-8 or a date out of range is refused before the store sees it.
#include "services/HttpInspector.h"
#include "services/HttpInspectorRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Json::Value Parse(const std::string& body)
{
    Json::Value root;
    EXPECT_TRUE(HttpInspector_ParseBody(body, &root)) << body;
    return root;
}

std::string AddBody(const std::string& members) { return "{\"data\":[{" + members + "}]}"; }

const std::string kRover = "\"UserName\":\"r1\",\"Password\":\"p\",\"UserType\":3";

}  // namespace

TEST(HttpInspectorUserToAdd, RefusesMembersOutOfRangeOrOfAnotherType)
{
    struct Case {
        std::string members;
        const char* message;
    } cases[] = {
        {kRover + ",\"Enabled\":9223372036854775808", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":18446744073709551615", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":-9223372036854775808", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":4294967296", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":1e300", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":0.5", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":\"true\"", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":[true]", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Enabled\":{}", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"Company\":{\"a\":1}", INSPECTOR_MSG_MALFORMED},
        {kRover + ",\"ExpireTime\":20301231", INSPECTOR_MSG_MALFORMED},
        {"\"UserName\":\"r1\",\"Password\":\"p\",\"UserType\":9223372036854775808", INSPECTOR_MSG_ADD_FAILED},
        {"\"UserName\":\"r1\",\"Password\":\"p\",\"UserType\":-2147483649", INSPECTOR_MSG_ADD_FAILED},
        {"\"UserName\":\"r1\",\"Password\":\"p\",\"UserType\":1e30", INSPECTOR_MSG_MALFORMED},
        {"\"UserName\":\"r1\",\"Password\":\"p\",\"UserType\":true", INSPECTOR_MSG_MALFORMED},
        {"\"UserName\":[\"r1\"],\"Password\":\"p\",\"UserType\":3", INSPECTOR_MSG_MALFORMED},
        {"\"UserName\":\"r1\",\"Password\":{},\"UserType\":3", INSPECTOR_MSG_MALFORMED},
    };
    for (const Case& c : cases) {
        UserRecord user;
        const char* message = nullptr;
        const char* reason = nullptr;
        EXPECT_EQ(HttpInspector_UserToAdd(Parse(AddBody(c.members)), &user, &message, &reason),
                  INSPECTOR_STATUS_FAILED)
            << c.members;
        EXPECT_STREQ(message, c.message) << c.members;
        ASSERT_NE(reason, nullptr);
        EXPECT_STRNE(reason, "") << c.members;
    }
}

TEST(HttpInspectorUserToAdd, RefusesDatesOutOfRangeAndTextsThatAreNotUtf8OrGoOnPastANul)
{
    const std::string refused[] = {
        "-2147483648/1/1 0:0:0",
        "2030/-2147483648/1 0:0:0",
        "2030/13/1 0:0:0",
        "2030/1/32 0:0:0",
        "2030/1/1 24:0:0",
        "2030/1/1 0:60:0",
        "2030/1/1 0:0:60",
        "1969/12/31 23:59:59",
        "10000/1/1 0:0:0",
        "99999999999/1/1 0:0:0",
        "2030/1/1",
        "soon",
    };
    for (const std::string& expiry : refused) {
        UserRecord user;
        const char* message = nullptr;
        const char* reason = nullptr;
        std::string body = AddBody(kRover + ",\"ExpireTime\":\"" + expiry + "\"");
        EXPECT_EQ(HttpInspector_UserToAdd(Parse(body), &user, &message, &reason), INSPECTOR_STATUS_FAILED) << expiry;
        EXPECT_STREQ(message, INSPECTOR_MSG_MALFORMED) << expiry;
    }

    const std::string notUtf8[] = {
        "\"UserName\":\"r\xff\",\"Password\":\"p\",\"UserType\":3",
        "\"UserName\":\"r1\",\"Password\":\"p\xc0\xaf\",\"UserType\":3",
        kRover + ",\"Contacts\":\"\xed\xa0\x80\"",
        kRover + ",\"PhoneNum\":\"1\x80\"",
        kRover + ",\"Mail\":\"a\xfe@b\"",
        kRover + ",\"QQ\":\"\xe4\xb8\"",
        kRover + ",\"Company\":\"\xf4\x90\x80\x80\"",
        kRover + ",\"ExpireTime\":\"2030/1/1 0:0:0\xff\"",
        // Texts that go on past a NUL: stored, they would be the text before it.
        "\"UserName\":\"r1\\u0000x\",\"Password\":\"p\",\"UserType\":3",
        "\"UserName\":\"r1\",\"Password\":\"p\\u0000x\",\"UserType\":3",
        kRover + ",\"Company\":\"c\\u0000\"",
    };
    for (const std::string& members : notUtf8) {
        UserRecord user;
        const char* message = nullptr;
        const char* reason = nullptr;
        std::string body = AddBody(members);
        Json::Value root;
        ASSERT_TRUE(HttpInspector_ParseBody(body, &root)) << testing::PrintToString(body);
        EXPECT_EQ(HttpInspector_UserToAdd(root, &user, &message, &reason), INSPECTOR_STATUS_FAILED)
            << testing::PrintToString(members);
        EXPECT_STREQ(message, INSPECTOR_MSG_MALFORMED);
    }
}

TEST(HttpInspectorUserToAdd, TakesWellFormedAccountsAsBefore)
{
    struct Case {
        std::string members;
        int type;
        int enabled;
    } cases[] = {
        {kRover, 3, 0},
        {kRover + ",\"Enabled\":true", 3, 1},
        {kRover + ",\"Enabled\":false", 3, 0},
        {kRover + ",\"Enabled\":1", 3, 1},
        {kRover + ",\"Enabled\":-7", 3, 1},
        {kRover + ",\"Enabled\":0", 3, 0},
        {kRover + ",\"Enabled\":2147483647", 3, 1},
        {kRover + ",\"Enabled\":null", 3, 0},
        {kRover + ",\"ExpireTime\":\"2030/12/31 23:59:59\",\"Company\":\"测绘\"", 3, 0},
        {kRover + ",\"ExpireTime\":\"\"", 3, 0},
        {"\"UserName\":\"站\",\"Password\":\"p\",\"UserType\":2", 2, 0},
    };
    for (const Case& c : cases) {
        UserRecord user;
        const char* message = nullptr;
        const char* reason = nullptr;
        EXPECT_EQ(HttpInspector_UserToAdd(Parse(AddBody(c.members)), &user, &message, &reason), INSPECTOR_STATUS_OK)
            << c.members << ": " << reason;
        EXPECT_EQ(user.type, c.type) << c.members;
        EXPECT_EQ(user.enabled, c.enabled) << c.members;
        EXPECT_EQ(user.activationperiod, 0) << c.members;
    }
}

TEST(HttpInspectorText, StoredBytesGoOutAsWellFormedUtf8)
{
    UserRecord user = {};
    snprintf(user.name, sizeof(user.name), "%s", "r\xff" "1");
    snprintf(user.company, sizeof(user.company), "%s", "测绘\xe4\xb8");
    Json::Value object = HttpInspector_UserObject(user);
    EXPECT_EQ(object["UserName"].asString(), "r?1");
    EXPECT_EQ(object["Company"].asString(), "测绘");
    EXPECT_EQ(HttpInspector_Text("MNT\xe7\xab").asString(), "MNT");
    EXPECT_EQ(HttpInspector_Text("MNT\xc0").asString(), "MNT?");
    EXPECT_EQ(HttpInspector_Text("\x80MNT").asString(), "?MNT");
    EXPECT_EQ(HttpInspector_Text(nullptr).asString(), "");
}

TEST(HttpInspectorIsLoopback, OnlyAddressesThisHostAloneReaches)
{
    struct Case {
        const char* ip;
        bool loopback;
    } cases[] = {
        {"127.0.0.1", true},  {"127.1.2.3", true},   {"::1", true},        {"::ffff:127.0.0.1", true},
        {"localhost", true},  {"0.0.0.0", false},    {"::", false},        {"192.168.1.10", false},
        {"10.0.0.1", false},  {"128.0.0.1", false},  {"::ffff:10.0.0.1", false}, {"", false},
        {"example.org", false},
    };
    for (const Case& c : cases) EXPECT_EQ(HttpInspector_IsLoopback(c.ip), c.loopback) << c.ip;
    EXPECT_FALSE(HttpInspector_IsLoopback(nullptr));
}

TEST(HttpInspectorCollectTexts, ANameThatGoesOnPastANulIsMalformed)
{
    std::set<std::string> names;
    EXPECT_FALSE(HttpInspector_CollectTexts(Parse("{\"data\":[{\"UserName\":\"demo\\u0000x\"}]}"), "UserName",
                                            true, &names));
    EXPECT_TRUE(HttpInspector_CollectTexts(Parse("{\"data\":[{\"UserName\":\"demo\"}]}"), "UserName", true,
                                           &names));
    EXPECT_EQ(names, std::set<std::string>{"demo"});
}
