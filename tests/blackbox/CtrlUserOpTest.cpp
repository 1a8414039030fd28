// A control centre adds, changes and deletes users, and the caster follows at
// once: an added rover logs in and streams, a changed password closes the
// base it belongs to, a deleted account is closed and refused.
#include "blackbox/CtrlOpsFixture.h"

#include <algorithm>
#include <map>
#include <memory>

namespace {

using namespace CtrlOps;
using CtrlTexts::kReplyMs;

class BlackboxCtrlUserOps : public CtrlOpsTest {
protected:
    // The ack of a user operation (11, 13, 14), -1 without an answer.
    // The caster's tables follow the answer a moment later, on the thread
    // that runs the connection's requests one after another: they have once
    // the next request, a version query, is answered.
    int UserOp(CtrlCenterClient* c, uint32_t type, int32_t id, const std::vector<CtrlWire::Pb>& items,
               CtrlWire::PbFields* body = nullptr)
    {
        CtrlWire::Received r = Ask(c, type, id, UserRequest(items));
        if (r.type != 1000 + type || r.id != id) return -1;
        CtrlWire::PbFields f = CtrlWire::ParsePb(r.body);
        if (body) *body = f;
        CtrlWire::Received after = Ask(c, 21, id + 10000, CtrlWire::Pb());
        EXPECT_TRUE(after.type == 1020 && after.id == id + 10000) << "the version query after the operation";
        return static_cast<int>(f.Int(CtrlTexts::ACK));
    }

    // The users of a type named name, as the type-12 list gives them.
    std::vector<CtrlWire::PbFields> Users(CtrlCenterClient* c, int type, const std::string& name = "")
    {
        CtrlWire::Pb item;
        item.Int(USER_TYPE, type);
        if (!name.empty()) item.Bytes(USER_NAME, name);
        std::vector<CtrlWire::PbFields> users;
        c->Request(12, 300, UserRequest({item}));
        CtrlWire::Received r;
        // The list's frames all say more 0: read until nothing more comes.
        while (c->NextReply(&r, users.empty() ? kReplyMs : 300)) {
            EXPECT_EQ(r.type, 1012u);
            CtrlWire::PbFields body = CtrlWire::ParsePb(r.body);
            for (const std::string& u : body.All(USER_ITEMS_REPLY)) users.push_back(CtrlWire::ParsePb(u));
        }
        return users;
    }

    uint32_t IdOf(CtrlCenterClient* c, int type, const std::string& name)
    {
        std::vector<CtrlWire::PbFields> users = Users(c, type, name);
        EXPECT_EQ(users.size(), 1u) << name;
        return users.empty() ? 0 : static_cast<uint32_t>(users[0].Int(USER_ID));
    }
};

TEST_F(BlackboxCtrlUserOps, AddedRoverLogsInAtOnceAndReceivesTheStream)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("UB1", "Base-Pw-1"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "UB1", "Base-Pw-1"));
    auto c = Centre();

    TestClient early;
    std::string reply;
    EXPECT_FALSE(RawPeers::LoginRover(&early, Port(), "UB1", "newbie", "New-Pw-1", &reply)) << Printable(reply);

    EXPECT_EQ(UserOp(c.get(), 11, 81, {UserItem(0, 3, "newbie", "New-Pw-1")}), 20);
    TestClient rover;
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "UB1", "newbie", "New-Pw-1", &reply)) << Printable(reply);
    const std::string chunk = GnssFrames::CounterBytes(0, 600);
    ASSERT_TRUE(base.Send(chunk));
    EXPECT_EQ(rover.ReadExactly(chunk.size(), kReplyMs), chunk);

    // The same type and name again: 32, and the first account still works.
    EXPECT_EQ(UserOp(c.get(), 11, 82, {UserItem(0, 3, "newbie", "Other-Pw")}), 32);
    TestClient second;
    EXPECT_FALSE(RawPeers::LoginRover(&second, Port(), "UB1", "newbie", "Other-Pw", &reply));
    EXPECT_FALSE(rover.PeerClosed());
    // The same name as a base account is another user.
    EXPECT_EQ(UserOp(c.get(), 11, 83, {UserItem(0, 2, "newbie", "Base-Pw-2")}), 20);
    // No user in the request: no answer.
    c->Request(11, 84, UserRequest({}));
    EXPECT_EQ(Ask(c.get(), 3, 85, BaseRequest()).type, 1003u);
}

TEST_F(BlackboxCtrlUserOps, BaseIsClosedWhenItsPasswordChangesAndOnlyThen)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("UB1", "Base-Pw-1"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "UB1", "Base-Pw-1"));
    auto c = Centre();
    uint32_t id = IdOf(c.get(), 2, "UB1");
    ASSERT_NE(id, 0u);

    // Another contact, the same password: the base stays online.
    EXPECT_EQ(UserOp(c.get(), 13, 91, {UserItem(id, 2, "UB1", "Base-Pw-1", "Anna")}), 20);
    EXPECT_FALSE(base.WaitClosed(1000)) << "a change that leaves the login alone closed the base";
    ASSERT_EQ(Users(c.get(), 2, "UB1").size(), 1u);
    EXPECT_EQ(Users(c.get(), 2, "UB1")[0].Text(USER_CONTACT), "Anna");

    EXPECT_EQ(UserOp(c.get(), 13, 92, {UserItem(id, 2, "UB1", "Base-Pw-2")}), 20);
    EXPECT_TRUE(base.WaitClosed(kReplyMs)) << "the base stays online under its old password";
    TestClient old;
    std::string reply;
    EXPECT_FALSE(RawPeers::LoginBase(&old, Port(), "UB1", "Base-Pw-1", &reply));
    // The login reads a reply as long as the accepted one.
    EXPECT_EQ(reply, NtripTexts::kBadPassword.substr(0, NtripTexts::kIcyOk.size()));
    TestClient renewed;
    EXPECT_TRUE(RawPeers::LoginBase(&renewed, Port(), "UB1", "Base-Pw-2", &reply)) << Printable(reply);

    EXPECT_EQ(UserOp(c.get(), 13, 93, {UserItem(id + 1000, 2, "UB1", "x")}), 51) << "no user with that id";
}

// A rover account made a base account by a modify: its rover is closed and
// the account no longer logs in as a rover, only as the base it now is.
TEST_F(BlackboxCtrlUserOps, AnAccountMadeABaseNoLongerLogsInAsARover)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("UB1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("shifter", "Shift-Pw-1"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "UB1", "Base-Pw-1"));
    TestClient rover;
    std::string reply;
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "UB1", "shifter", "Shift-Pw-1", &reply)) << Printable(reply);
    auto c = Centre();
    uint32_t id = IdOf(c.get(), 3, "shifter");
    ASSERT_NE(id, 0u);

    EXPECT_EQ(UserOp(c.get(), 13, 95, {UserItem(id, 2, "shifter", "Shift-Pw-1")}), 20);
    EXPECT_TRUE(rover.WaitClosed(kReplyMs)) << "the rover stays online under the type it left";
    TestClient again;
    EXPECT_FALSE(RawPeers::LoginRover(&again, Port(), "UB1", "shifter", "Shift-Pw-1", &reply));
    EXPECT_EQ(reply.compare(0, 12, "HTTP/1.0 401"), 0) << Printable(reply);
    TestClient asBase;
    EXPECT_TRUE(RawPeers::LoginBase(&asBase, Port(), "shifter", "Shift-Pw-1", &reply)) << Printable(reply);
    EXPECT_FALSE(base.PeerClosed());
}

TEST_F(BlackboxCtrlUserOps, DeletedRoversAreClosedAndRefused)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("UB1", "Base-Pw-1"));
    for (const char* user : {"del-a", "del-b", "del-c", "keep"}) ASSERT_TRUE(vorlane.AddRoverAccount(user, "Del-Pw"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "UB1", "Base-Pw-1"));
    auto c = Centre();
    std::map<std::string, uint32_t> ids;
    std::map<std::string, std::unique_ptr<TestClient>> rovers;
    for (const char* user : {"del-a", "del-b", "del-c", "keep"}) {
        ids[user] = IdOf(c.get(), 3, user);
        rovers[user].reset(new TestClient);
        ASSERT_TRUE(RawPeers::LoginRover(rovers[user].get(), Port(), "UB1", user, "Del-Pw"));
    }

    // One id, with its type and name.
    CtrlWire::PbFields body;
    EXPECT_EQ(UserOp(c.get(), 14, 101, {UserItem(ids["del-a"], 3, "del-a", "")}, &body), 20);
    EXPECT_TRUE(rovers["del-a"]->WaitClosed(kReplyMs));
    // Two items that carry only the id.
    EXPECT_EQ(UserOp(c.get(), 14, 102, {UserItem(ids["del-b"], 0, "", ""), UserItem(ids["del-c"], 0, "", "")}, &body),
              20);
    std::vector<std::string> listed = body.All(USER_ITEMS_REPLY);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(static_cast<uint32_t>(CtrlWire::ParsePb(listed[0]).Int(USER_ID)), ids["del-b"]);
    EXPECT_EQ(static_cast<uint32_t>(CtrlWire::ParsePb(listed[1]).Int(USER_ID)), ids["del-c"]);
    EXPECT_TRUE(rovers["del-b"]->WaitClosed(kReplyMs));
    EXPECT_TRUE(rovers["del-c"]->WaitClosed(kReplyMs));
    EXPECT_FALSE(rovers["keep"]->WaitClosed(300));

    for (const char* user : {"del-a", "del-b", "del-c"}) {
        TestClient again;
        std::string reply;
        EXPECT_FALSE(RawPeers::LoginRover(&again, Port(), "UB1", user, "Del-Pw", &reply)) << user;
        EXPECT_EQ(reply.compare(0, 12, "HTTP/1.0 401"), 0) << user << ": " << Printable(reply);
    }
    EXPECT_TRUE(Users(c.get(), 3, "del-b").empty());
}

TEST_F(BlackboxCtrlUserOps, LongNameOfMultiByteCharactersListsBackAsValidUtf8)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    std::string name;
    for (int i = 0; i < 82; ++i) name += "\xE4\xB8\xAD";  // U+4E2D, 3 bytes
    name += "\xC3\xA9\xC3\xA9";                         // 250 bytes in all
    ASSERT_EQ(name.size(), 250u);
    EXPECT_EQ(UserOp(c.get(), 11, 111, {UserItem(0, 3, name, "Pw-Long")}), 20);
    EXPECT_EQ(UserOp(c.get(), 11, 112, {UserItem(0, 3, "plain", "Pw-Plain")}), 20);

    std::vector<CtrlWire::PbFields> users = Users(c.get(), 3);
    ASSERT_EQ(users.size(), 2u) << "every frame after the long name parses";
    std::vector<std::string> names = {users[0].Text(USER_NAME), users[1].Text(USER_NAME)};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names[0], "plain");
    EXPECT_TRUE(IsUtf8(names[1]));
    EXPECT_EQ(names[1], name.substr(0, 198)) << "cut to 199 bytes at a character boundary";
}

}  // namespace
