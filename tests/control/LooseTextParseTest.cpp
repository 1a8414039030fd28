// Reading account requests whose texts are not UTF-8: the same message the
// strict parser gives for every well-formed body, the bad texts kept and
// marked, and bodies that are no message of the class refused.
#include "control/LooseTextParse.h"
#include "control/CtrlReply.h"

#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Loose(const std::string& wire, UserOpMsg::UserOpRequest* out, bool* notUtf8)
{
    return LooseText_Parse(reinterpret_cast<const unsigned char*>(wire.data()), wire.size(), out, notUtf8);
}

UserOpMsg::UserOpRequest Sample()
{
    UserOpMsg::UserOpRequest request;
    for (int i = 0; i < 2; ++i) {
        UserOpMsg::UserInfo* info = request.add_user_info();
        info->set_id(7 + i);
        info->set_user_type(UserOpMsg::USER_TYPE_ROVER_STATION);
        info->set_user_name("名前-" + std::to_string(i));
        info->set_user_password("pw");
        info->set_expiredate_time("2030/1/1 0:0:0");
        info->set_activation(1);
        info->set_activation_period(-3);
    }
    return request;
}

TEST(LooseTextParseTest, WellFormedBodiesReadAsTheStrictParserReadsThem)
{
    UserOpMsg::UserOpRequest sample = Sample();
    std::string wire = sample.SerializeAsString();
    UserOpMsg::UserOpRequest loose;
    bool notUtf8 = true;
    ASSERT_TRUE(Loose(wire, &loose, &notUtf8));
    EXPECT_FALSE(notUtf8);
    EXPECT_EQ(loose.SerializeAsString(), wire);
    EXPECT_EQ(loose.user_info(1).activation_period(), -3);

    UserOpMsg::UserOpRequest empty;
    ASSERT_TRUE(Loose("", &empty, &notUtf8));
    EXPECT_EQ(empty.user_info_size(), 0);
}

TEST(LooseTextParseTest, TextsThatAreNotUtf8AreKeptAndMarked)
{
    UserOpMsg::UserOpRequest sample = Sample();
    std::string good = sample.SerializeAsString();
    // The same body with the first name's last byte turned into a stray one.
    std::string wire = good;
    size_t at = wire.find("名前-0");
    ASSERT_NE(at, std::string::npos);
    wire[at + 1] = '\xFF';
    UserOpMsg::UserOpRequest strict;
    EXPECT_FALSE(strict.ParseFromString(wire)) << "the strict parser takes it: nothing to test";

    UserOpMsg::UserOpRequest loose;
    bool notUtf8 = false;
    ASSERT_TRUE(Loose(wire, &loose, &notUtf8));
    EXPECT_TRUE(notUtf8);
    ASSERT_EQ(loose.user_info_size(), 2);
    EXPECT_EQ(loose.user_info(0).user_name(), std::string("\xE5\xFF\x8D", 3) + "前-0");
    EXPECT_EQ(loose.user_info(0).id(), 7u);
    EXPECT_EQ(loose.user_info(1).user_name(), "名前-1");
}

TEST(LooseTextParseTest, BodiesThatAreNoMessageAreRefused)
{
    const std::string broken[] = {
        std::string("\x0A\x05\x08\x01", 4),          // an item longer than the body
        std::string("\x0A\x03\x1A\x05\x41", 5),      // a name longer than its item
        std::string("\x0A\x02\x08", 3),               // a varint cut off
        std::string("\x0A\x02\x0A\x80", 4),           // a nested length cut off
    };
    for (const std::string& wire : broken) {
        UserOpMsg::UserOpRequest out;
        bool notUtf8 = false;
        EXPECT_FALSE(Loose(wire, &out, &notUtf8));
    }
}

TEST(CtrlReplyEchoTest, LongTextsAreCutAtACharacter)
{
    struct Case {
        std::string text;
        size_t length;
    } cases[] = {
        {"", 0},
        {std::string(CTRL_ECHO_TEXT_MAX, 'a'), CTRL_ECHO_TEXT_MAX},
        {std::string(CTRL_ECHO_TEXT_MAX + 1, 'a'), CTRL_ECHO_TEXT_MAX},
        // A three-byte character across the limit is left out whole.
        {std::string(CTRL_ECHO_TEXT_MAX - 1, 'a') + "中", CTRL_ECHO_TEXT_MAX - 1},
        {std::string(CTRL_ECHO_TEXT_MAX - 3, 'a') + "中b", CTRL_ECHO_TEXT_MAX},
    };
    for (const Case& c : cases) {
        std::string echoed = CtrlReply_EchoText(c.text);
        EXPECT_EQ(echoed.size(), c.length);
        EXPECT_EQ(c.text.compare(0, echoed.size(), echoed), 0);
    }
}

}  // namespace
