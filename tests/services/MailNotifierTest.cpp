// The mail notifier: its settings line, its schedule, and the mails it sends
// to a fake mail server (statistics on schedule, notices at once).
#include "support/LogCapture.h"
#include "services/MailNotifier.h"
#include "support/FakeSmtpServer.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

TEST(MailSchedule, WaitsForTheNextInstantOfThePeriod)
{
    struct Case {
        int64_t now;
        int period, phase, shift;
        int64_t wait;
    } cases[] = {
        // Once a day at 01:00:00 UTC: t = 3600 modulo 86400.
        {1700000000, 86400, 32400, 28800, 86400 - (1700000000 - 3600) % 86400},
        {86400 * 19000 + 3600, 86400, 32400, 28800, 86400},  // due right now: a whole period
        {86400 * 19000 + 3599, 86400, 32400, 28800, 1},
        {120, 60, 0, 0, 60},
        {125, 60, 0, 0, 55},
        // t + shift - phase below 0: the remainder is brought into range.
        {10, 60, 100, 0, 30},
        {0, 7, 0, -3, 3},
        // No positive period: no scheduled mail at all.
        {125, 0, 0, 0, -1},
        {125, -60, 0, 0, -1},
    };
    for (const Case& c : cases) {
        int64_t wait = smtp_email::ScheduleWait(c.now, c.period, c.phase, c.shift);
        EXPECT_EQ(c.wait, wait) << c.now << " " << c.period << " " << c.phase << " " << c.shift;
        if (c.period > 0) {
            EXPECT_EQ(0, (c.now + wait + c.shift - c.phase) % c.period);
        }
    }
}

TEST(MailSettings, TheFirstLineWithoutHashIsTheDataLine)
{
    struct Case {
        const char* name;
        std::string file;
        SmtpEmailSettings want;
    } cases[] = {
        {"comments before, whatever stands before their #",
         "# mail settings\n  server list # old\n"
         "smtp.example.com 465 ops@example.com pw boss@example.com 86400 32400 28800\nnot read 1 2\n",
         {"smtp.example.com", "465", "ops@example.com", "boss@example.com", 86400, 32400, 28800}},
        {"a password holding # makes its line a comment",
         "smtp.example.com 465 ops pass#word boss 60 0 0\nsecond.example.com\t25\tu\tp\tr\t1\t2\t3\r\n",
         {"second.example.com", "25", "u", "r", 1, 2, 3}},
        {"eleven tokens use the first eight", "h 465 u p r 60 -5 +7 9 10 11\n", {"h", "465", "u", "r", 60, -5, 7}},
        {"numbers read as far as their digits go", "h 465 u p r 12abc none -\n", {"h", "465", "u", "r", 12, 0, 0}},
        {"a short line leaves the rest empty", "h 465\n", {"h", "465", "", "", 0, 0, 0}},
        {"a blank line is the data line", "# mail\n\nh 465 u p r 60 0 0\n", {"", "", "", "", 0, 0, 0}},
        {"no data line at all", "# h 465 u p r 60 0 0\n", {"", "", "", "", 0, 0, 0}},
        {"a line beyond 255 characters is cut", "h 465 u p r 60 0 " + std::string(300, '9') + "\n",
         {"h", "465", "u", "r", 60, 0, 2147483647}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir.File("RelaySmtp.conf"), c.file));
        smtp_email notifier;
        EXPECT_EQ(0, notifier.LoadConf(dir.File("RelaySmtp.conf").c_str())) << c.name;
        EXPECT_TRUE(notifier.Loaded()) << c.name;
        SmtpEmailSettings got = notifier.Settings();
        EXPECT_EQ(c.want.server, got.server) << c.name;
        EXPECT_EQ(c.want.port, got.port) << c.name;
        EXPECT_EQ(c.want.user, got.user) << c.name;
        EXPECT_EQ(c.want.recipient, got.recipient) << c.name;
        EXPECT_EQ(c.want.period, got.period) << c.name;
        EXPECT_EQ(c.want.phase, got.phase) << c.name;
        EXPECT_EQ(c.want.shift, got.shift) << c.name;
    }
}

TEST(MailSettings, WithoutTheFileNothingStartsAndTheTextsAreStillTaken)
{
    TempDir dir;
    smtp_email notifier;
    EXPECT_EQ(-1, notifier.LoadConf(dir.File("RelaySmtp.conf").c_str()));
    EXPECT_FALSE(notifier.Loaded());
    EXPECT_EQ(1, notifier.Start());
    notifier.SetStatistics("Realy_account state\n");
    notifier.PostNotice("Vorlane is runing\n");
    EXPECT_EQ(1, notifier.SendReport());
}

// A notifier that mails a fake server over TLS.
class MailNotifierStory : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestCertificate_Make(dir_.Path(), "localhost", "localhost", true, &certificate_));
        setenv("SSL_CERT_FILE", certificate_.certFile.c_str(), 1);
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    // Loads a settings line for the server with the given schedule.
    void Load(smtp_email* notifier, const FakeSmtpServer& server, int period, int phase = 0)
    {
        std::string line = "localhost " + std::to_string(server.Port()) + " ops@example.com s3cr#t-no " +
                           "boss@example.com " + std::to_string(period) + " " + std::to_string(phase) + " 0\n";
        // The "#" above would make the line a comment: the password is set
        // without it.
        line.replace(line.find("s3cr#t-no"), 9, "Pa55-w0rd");
        ASSERT_TRUE(WriteFile(dir_.File("RelaySmtp.conf"), line));
        ASSERT_EQ(0, notifier->LoadConf(dir_.File("RelaySmtp.conf").c_str()));
    }

    // A daily period whose instant has just passed: no scheduled mail
    // during the test.
    static int JustPassedPhase() { return static_cast<int>(time(nullptr) % 86400); }

    static std::string Body(const FakeSmtpServer::Session& session) { return FakeSmtp_MessageBody(session.message); }
    static std::string Subject(const FakeSmtpServer::Session& session)
    {
        return FakeSmtp_MessageSubject(session.message);
    }

    TempDir dir_;
    TestCertificate certificate_;
};

TEST_F(MailNotifierStory, ANoticeGoesOutAtOnceWithTheStatisticsWhenEverItWasPosted)
{
    for (bool postedBeforeStart : {true, false}) {
        FakeSmtpServer server(certificate_);
        ASSERT_TRUE(server.Start());
        smtp_email notifier(5000);
        Load(&notifier, server, 86400, JustPassedPhase());
        if (!postedBeforeStart) {
            ASSERT_EQ(0, notifier.Start());
        }
        notifier.SetStatistics("Realy_account state:DAY_MAX_USER:0\n");
        notifier.PostNotice("Vorlane is runing\n");
        if (postedBeforeStart) {
            ASSERT_EQ(0, notifier.Start());
        }
        ASSERT_TRUE(server.WaitSessions(1, 5000)) << postedBeforeStart;
        FakeSmtpServer::Session mail = server.Sessions()[0];
        EXPECT_TRUE(mail.quit);
        EXPECT_EQ(SMTP_NOTICE_SUBJECT, Subject(mail));
        EXPECT_EQ("Vorlane is runing\nRealy_account state:DAY_MAX_USER:0\n", Body(mail));
        EXPECT_NE(std::string::npos, mail.received.find("RCPT TO:<boss@example.com>\r\n"));
        // The notice was mailed once; nothing more follows.
        EXPECT_FALSE(server.WaitSessions(2, 500));
    }
}

TEST_F(MailNotifierStory, ANoticePostedWhileAMailIsOnItsWayGoesOutInTheNext)
{
    FakeSmtpServer::Script slow;
    slow.splitReplies = true;
    FakeSmtpServer server(certificate_, slow);
    ASSERT_TRUE(server.Start());
    smtp_email notifier(5000);
    Load(&notifier, server, 86400, JustPassedPhase());
    ASSERT_EQ(0, notifier.Start());
    notifier.PostNotice("Vorlane: Relay_Service idle account less 5!\n");
    ASSERT_TRUE(server.WaitAccepted(1, 5000));
    notifier.PostNotice("Vorlane: Relay_Service no idle account!\n");
    ASSERT_TRUE(server.WaitSessions(2, 8000));
    std::vector<FakeSmtpServer::Session> mails = server.Sessions();
    EXPECT_EQ("Vorlane: Relay_Service idle account less 5!\n", Body(mails[0]));
    EXPECT_EQ("Vorlane: Relay_Service no idle account!\n", Body(mails[1]));
    EXPECT_EQ(SMTP_NOTICE_SUBJECT, Subject(mails[1]));
}

TEST_F(MailNotifierStory, TheScheduleMailsTheStatisticsAndNothingWhenThereIsNothingToSay)
{
    FakeSmtpServer server(certificate_);
    ASSERT_TRUE(server.Start());
    smtp_email notifier(5000);
    Load(&notifier, server, 1);
    ASSERT_EQ(0, notifier.Start());
    // Both texts empty: the thread wakes every second and sends nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(0, server.Accepted());
    notifier.SetStatistics("Realy_account state:LEFT:3\n");
    ASSERT_TRUE(server.WaitSessions(1, 5000));
    FakeSmtpServer::Session mail = server.Sessions()[0];
    EXPECT_EQ(SMTP_STATISTICS_SUBJECT, Subject(mail));
    EXPECT_EQ("Realy_account state:LEFT:3\n", Body(mail));
}

TEST_F(MailNotifierStory, WithoutAPositivePeriodOnlyNoticesAreMailed)
{
    for (int period : {0, -60}) {
        FakeSmtpServer server(certificate_);
        ASSERT_TRUE(server.Start());
        smtp_email notifier(5000);
        Load(&notifier, server, period);
        ASSERT_EQ(0, notifier.Start());
        notifier.SetStatistics("Realy_account state:LEFT:3\n");
        EXPECT_FALSE(server.WaitSessions(1, 1500)) << period;
        EXPECT_EQ(0, server.Accepted()) << period;
        notifier.PostNotice("Vorlane is runing\n");
        ASSERT_TRUE(server.WaitSessions(1, 5000)) << period;
        EXPECT_EQ("Vorlane is runing\nRealy_account state:LEFT:3\n", Body(server.Sessions()[0]));
    }
}

TEST_F(MailNotifierStory, CallersNeverWaitOnAMailServerThatHangsAndThePasswordIsNeverLogged)
{
    LogCapture log;
    FakeSmtpServer::Script silent;
    silent.silentAt = FakeSmtpServer::GREETING;
    FakeSmtpServer server(certificate_, silent);
    ASSERT_TRUE(server.Start());
    {
        smtp_email notifier(1500);
        Load(&notifier, server, 86400, JustPassedPhase());
        ASSERT_EQ(0, notifier.Start());
        notifier.PostNotice("first\n");
        ASSERT_TRUE(server.WaitAccepted(1, 5000));
        // The mailer is stuck in its dialogue; posting and setting go on.
        for (int i = 0; i < 100; ++i) {
            notifier.PostNotice("again\n");
            notifier.SetStatistics("state\n");
        }
        EXPECT_EQ(0u, server.Sessions().size()) << "the calls above waited for the mailer";
        // The first mail ends at the time-out; the pending notices are tried next.
        ASSERT_TRUE(server.WaitSessions(1, 5000));
        EXPECT_TRUE(server.WaitAccepted(2, 5000));
    }
    EXPECT_TRUE(log.Has("No reply from the server.")) << log.Text();
    EXPECT_EQ(std::string::npos, log.Text().find("Pa55-w0rd"));
}

}  // namespace
