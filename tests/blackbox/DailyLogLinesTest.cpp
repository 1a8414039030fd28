// Names built to forge lines of the daily log, sent where a peer can put
// them: an account added at the HTTP inspector, an operator's login name on
// the control port, a base's mount and a rover's user on the caster port.
// Each reaches the log, and every line of the file is still one line the
// log wrote itself.
#include "blackbox/CtrlFixture.h"
#include "blackbox/InspectorFixture.h"
#include "support/Files.h"

#include <json/json.h>

#include <regex>
#include <string>
#include <vector>

namespace {

// The ends of line a peer may try: CR LF, a bare LF, a bare CR (which a
// terminal shows as a new line over the old one), and NEL (U+0085, a line
// break to many line readers) as UTF-8.
struct Break {
    const char* kind;
    const char* sent;
    const char* logged;
    bool inRequestLine;  // false: it ends an NTRIP request's first line
};
const Break kBreaks[] = {
    {"crlf", "\r\n", "\\r\\n", false},
    {"lf", "\n", "\\n", true},
    {"cr", "\r", "\\r", true},
    {"nel", "\xc2\x85", "\\xc2\\x85", true},
};

// One name a peer sends: what follows its break would stand as a line of
// its own if the log wrote the name raw. No blank or colon, so that each
// name survives the request line and Basic authorization whole.
struct Forgery {
    std::string sent;
    std::string logged;  // as the log must show it, inside one line
    int lines;           // lines that name it: a session's login and its logout
};

Forgery Forge(const std::string& where, const Break& b, int lines = 1)
{
    std::string tail = "FORGED-" + where + "-" + b.kind;
    return {where + b.sent + tail, where + b.logged + tail, lines};
}

// The body of /xqn_user/add for one rover account; JSON carries the name's
// control characters as escapes, the inspector stores them as bytes.
std::string AddAccountBody(const std::string& name)
{
    Json::Value account;
    account["UserName"] = name;
    account["Password"] = "Added-Pw-1";
    account["UserType"] = 3;
    Json::Value body;
    body["data"].append(account);
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, body);
}

// A line the log writes: the opening line of a file, or a message.
const std::regex kLine(R"((\d\d:\d\d:\d\d\.\d\d\d:(Log Init OK| Init OK))|)"
                       R"((thread:\d+ \d\d:\d\d:\d\d\.\d\d\d:\[(debug|info|warn|err|\?\?\?)\] .*))");

class BlackboxDailyLog : public BlackboxInspector {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(vorlane.AddOperatorAccount(CtrlTexts::kOperator, CtrlTexts::kOperatorPassword));
        vorlane.NoteSecret("Added-Pw-1");
        vorlane.SetNtrip("base_login_mode", 1);   // any mount logs in
        vorlane.SetNtrip("rover_login_mode", 1);  // any user logs in
        ASSERT_NO_FATAL_FAILURE(StartInspector());
        ASSERT_TRUE(WaitFor([&] { return PortAccepts(vorlane.ControlPort(), 100); }, 10000, 50))
            << "the control port never accepted";
    }
};

TEST_F(BlackboxDailyLog, NoPeerTextForgesALine)
{
    TestClient base;
    std::string reply;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "any", &reply)) << Printable(reply);

    std::vector<Forgery> forged;
    CtrlCenterClient centre;
    ASSERT_TRUE(centre.Connect(vorlane.ControlPort()));
    for (const Break& b : kBreaks) {
        SCOPED_TRACE(b.kind);
        Forgery added = Forge("inspector", b);
        ExpectEnvelope(Ask("/xqn_user/add", AddAccountBody(added.sent)), 0, "账号添加成功", "added");

        Forgery login = Forge("operator", b);
        EXPECT_EQ(centre.Login(login.sent, "wrong"), 21);

        Forgery user = Forge("rover", b, 2);
        TestClient rover;
        ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "MNT1", user.sent, "any", &reply)) << Printable(reply);

        for (const Forgery* f : {&added, &login, &user}) forged.push_back(*f);
        if (b.inRequestLine) {
            Forgery mount = Forge("mount", b, 2);
            TestClient source;
            ASSERT_TRUE(RawPeers::LoginBase(&source, Port(), mount.sent, "any", &reply)) << Printable(reply);
            forged.push_back(mount);
        }
    }
    // The rover and the base have left: their logout lines name them too.
    for (const Forgery& f : forged) {
        EXPECT_GE(vorlane.CountInLogAtLeast(f.logged, f.lines), f.lines) << f.logged << " not logged";
    }

    std::string text = vorlane.LogText();
    EXPECT_EQ(text.find('\r'), std::string::npos) << "a CR reached the file";
    EXPECT_EQ(text.find("\xc2\x85"), std::string::npos) << "a NEL reached the file";
    std::vector<std::string> lines = SplitLines(text);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLine)) << "not a line of the log: " << Printable(line);
        EXPECT_NE(line.compare(0, 7, "FORGED-"), 0) << "a forged line: " << Printable(line);
    }
}

}  // namespace
