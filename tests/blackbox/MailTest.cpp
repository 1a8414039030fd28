// Mail to the operators: with a "RelaySmtp.conf" that names a mail server
// (here a fake one over TLS, whose certificate the caster trusts through
// SSL_CERT_FILE), the caster mails its start and the relay pool's state at
// once, and the pool's shortages as they happen.
#include "blackbox/RelayFixture.h"
#include "support/FakeSmtpServer.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kPassword = "Pa55-w0rd";
const char* const kNoIdle = "Vorlane: Relay_Service no idle account!\n";
const char* const kIdleLess5 = "Vorlane: Relay_Service idle account less 5!\n";

class MailTest : public RelayTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestCertificate_Make(certDir_.Path(), "localhost", "localhost", false, &certificate_));
        // The caster inherits it: the fake server's certificate is the one it trusts.
        setenv("SSL_CERT_FILE", certificate_.certFile.c_str(), 1);
        server_.reset(new FakeSmtpServer(certificate_));
        ASSERT_TRUE(server_->Start());
    }

    // "RelaySmtp.conf" for the fake server with the given statistics period.
    bool WriteSmtpConf(int period, int phase)
    {
        return WriteFile(vorlane.File("RelaySmtp.conf"),
                         "# server port login password recipient period phase shift\n"
                         "localhost\t" + std::to_string(server_->Port()) + " ops@example.com " + kPassword +
                             " boss@example.com " + std::to_string(period) + " " + std::to_string(phase) + " 0\n");
    }

    // Every mail's body so far, in order.
    std::vector<std::string> Bodies() const
    {
        std::vector<std::string> bodies;
        for (const FakeSmtpServer::Session& mail : server_->Sessions()) {
            bodies.push_back(FakeSmtp_MessageBody(mail.message));
        }
        return bodies;
    }

    // Waits until some mail's body holds text; that body, or "".
    std::string WaitMailWith(const std::string& text, int timeoutMs)
    {
        std::string found;
        WaitFor([&] {
            for (const std::string& body : Bodies()) {
                if (body.find(text) != std::string::npos) {
                    found = body;
                    return true;
                }
            }
            return false;
        }, timeoutMs);
        return found;
    }

    static std::string StateLine(int accounts, int left, int dayUsers, int dayMaxUse)
    {
        return "Realy_account state:DAY_MAX_USER:" + std::to_string(dayUsers) +
               "   RELAY_ACCOUNT_DAY_MAX_USE:" + std::to_string(dayMaxUse) +
               "    RELAY_ACCOUNT_SUM:" + std::to_string(accounts) + "   LEFT:" + std::to_string(left) + "\n";
    }

    TempDir certDir_;
    TestCertificate certificate_;
    std::unique_ptr<FakeSmtpServer> server_;
};

// The start-up notice goes out within seconds, with the pool's state line,
// whether the statistics are due in a day or never.
TEST_F(MailTest, TheStartIsMailedAtOnceWithTheRelayState)
{
    // A daily period whose instant has just passed, so no statistics mail is due.
    int phase = static_cast<int>(time(nullptr) % 86400);
    for (int period : {86400, 0}) {
        SCOPED_TRACE(period);
        ASSERT_TRUE(WriteSmtpConf(period, phase));
        ASSERT_NO_FATAL_FAILURE(StartCaster());
        ASSERT_TRUE(server_->WaitSessions(1, 10000)) << vorlane.Diagnostics();
        FakeSmtpServer::Session mail = server_->Sessions()[0];
        EXPECT_TRUE(mail.quit);
        EXPECT_EQ("系统提示信息", FakeSmtp_MessageSubject(mail.message));
        EXPECT_EQ("Vorlane is runing\n" + StateLine(0, 0, 0, 0), FakeSmtp_MessageBody(mail.message));
        EXPECT_NE(std::string::npos, mail.received.find("RCPT TO:<boss@example.com>\r\n"));
        EXPECT_FALSE(server_->WaitSessions(2, 1000)) << "more than the start was mailed";
        EXPECT_EQ(std::string::npos, vorlane.LogText().find(kPassword));
        if (period != 0) {
            // The next round: a fresh caster start and a fresh mail server.
            EXPECT_TRUE(vorlane.Stop().Success());
            server_.reset(new FakeSmtpServer(certificate_));
            ASSERT_TRUE(server_->Start());
        }
    }
}

// One shared account and two rovers: the first takes the account and leaves
// none idle, the second finds none. Both shortages are mailed, each with
// the state line of that moment.
TEST_F(MailTest, RelayShortagesAreMailedAsTheyHappen)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", upstream.Port(), "UP", "acc1:pw1")));
    for (const char* user : {"alice", "bob"}) ASSERT_TRUE(AddRover(user));
    ASSERT_TRUE(WriteSmtpConf(86400, static_cast<int>(time(nullptr) % 86400)));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    EXPECT_EQ("Vorlane is runing\n" + StateLine(1, 1, 0, 0), WaitMailWith("Vorlane is runing\n", 10000))
        << vorlane.Diagnostics();

    TestClient alice;
    ASSERT_TRUE(LoginRover(&alice, "SHARED", "alice"));
    ASSERT_TRUE(alice.Send(GgaLine(39.10, -121.00)));
    ASSERT_TRUE(upstream.WaitConnection(0, 5000));
    std::string less5 = WaitMailWith(kIdleLess5, 10000);
    EXPECT_NE("", less5) << vorlane.Diagnostics();
    EXPECT_NE(std::string::npos, less5.find(StateLine(1, 0, 1, 1))) << Printable(less5);

    TestClient bob;
    ASSERT_TRUE(LoginRover(&bob, "SHARED", "bob"));
    ASSERT_TRUE(bob.Send(GgaLine(39.20, -121.10)));
    EXPECT_TRUE(bob.WaitClosed(3000));
    std::string noIdle = WaitMailWith(kNoIdle, 10000);
    EXPECT_NE("", noIdle) << vorlane.Diagnostics();
    EXPECT_NE(std::string::npos, noIdle.find(StateLine(1, 0, 1, 1))) << Printable(noIdle);
    for (const std::string& body : Bodies()) EXPECT_EQ(std::string::npos, body.find(kPassword));
}

}  // namespace
