// The SMTP dialogue over implicit TLS against a fake mail server: the whole
// exchange byte for byte, the result of an error reply, silence or a close at
// each step, and the certificate checks that come before the password.
#include "SmtpTestMail.h"
#include "services/SimpleSslSmtpEmail.h"
#include "support/FakeSmtpServer.h"
#include "support/TempDir.h"
#include "support/TestClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

const int SHORT_TIMEOUT_MS = 400;

// What the client sends, one item per step from EHLO to QUIT.
std::vector<std::string> DialogueCommands(const std::string& message)
{
    return {"ehlo EmailService\r\n",
            "AUTH PLAIN AG9wc0BleGFtcGxlLmNvbQBzZWNyZXQ=\r\n",
            "mail FROM:<ops@example.com>\r\n",
            "RCPT TO:<boss@example.com>\r\n",
            "data\r\n",
            message,
            "quit\r\n"};
}

// The first count commands, as the server receives them.
std::string ExpectedDialogue(size_t count = FakeSmtpServer::STEP_COUNT - 1)
{
    std::vector<std::string> commands = DialogueCommands(SmtpTestMail_Message());
    std::string text;
    for (size_t i = 0; i < count && i < commands.size(); ++i) text += commands[i];
    return text;
}

class SmtpDialogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestCertificate_Make(dir_.Path(), "localhost", "localhost", true, &certificate_));
        ASSERT_TRUE(TestCertificate_Make(dir_.Path(), "other", "other.invalid", false, &otherCertificate_));
        Trust(certificate_);
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    void Trust(const TestCertificate& certificate) { setenv("SSL_CERT_FILE", certificate.certFile.c_str(), 1); }

    // One mail of the test texts through a fresh client.
    int SendTestMail(const std::string& host, int port, std::string* lastError = nullptr,
                     int timeoutMs = SHORT_TIMEOUT_MS)
    {
        SimpleSslSmtpEmail client(host, std::to_string(port), timeoutMs);
        int result = client.SendEmail("ops@example.com", "secret", "boss@example.com", "系统提示信息",
                                      "Vorlane is runing\n");
        if (lastError) *lastError = client.LastError();
        return result;
    }

    TempDir dir_;
    TestCertificate certificate_;
    TestCertificate otherCertificate_;
};

TEST_F(SmtpDialogue, SendsTheWholeDialogueByteForByteWhateverThePiecesOfTheReplies)
{
    struct Case {
        const char* host;
        bool split;
    } cases[] = {{"localhost", false}, {"localhost", true}, {"127.0.0.1", true}};
    for (const Case& c : cases) {
        FakeSmtpServer::Script script;
        script.splitReplies = c.split;
        FakeSmtpServer server(certificate_, script);
        ASSERT_TRUE(server.Start());
        std::string error;
        EXPECT_EQ(0, SendTestMail(c.host, server.Port(), &error, 5000)) << c.host << " " << error;
        ASSERT_TRUE(server.WaitSessions(1, 5000));
        FakeSmtpServer::Session session = server.Sessions()[0];
        EXPECT_TRUE(session.handshake);
        EXPECT_TRUE(session.quit);
        EXPECT_EQ(ExpectedDialogue(), session.received) << c.host << " split " << c.split;
    }
}

TEST_F(SmtpDialogue, AnErrorReplyEndsTheMailWithThatStepsResultAndReply)
{
    struct Case {
        int step;
        const char* reply;
        int result;
    } cases[] = {
        {FakeSmtpServer::GREETING, "554 5.3.2 no service here\r\n", 220},
        {FakeSmtpServer::EHLO, "502 5.5.1 not implemented\r\n", 250},
        {FakeSmtpServer::AUTH, "535 5.7.8 Authentication credentials invalid\r\n", 250},
        {FakeSmtpServer::MAIL, "550 5.7.1 sender refused\r\n", 250},
        {FakeSmtpServer::RCPT, "550-5.1.1 no such user\r\n550 5.1.1 try another\r\n", 250},
        {FakeSmtpServer::DATA, "451 4.3.0 try later\r\n", 354},
        {FakeSmtpServer::MESSAGE, "552 5.3.4 too big\r\n", 250},
    };
    for (bool split : {false, true}) {
        for (const Case& c : cases) {
            FakeSmtpServer::Script script;
            script.replies[c.step] = c.reply;
            script.splitReplies = split;
            FakeSmtpServer server(certificate_, script);
            ASSERT_TRUE(server.Start());
            std::string error;
            EXPECT_EQ(c.result, SendTestMail("localhost", server.Port(), &error, 5000)) << c.reply;
            EXPECT_EQ(c.reply, error);
            ASSERT_TRUE(server.WaitSessions(1, 5000));
            FakeSmtpServer::Session session = server.Sessions()[0];
            EXPECT_FALSE(session.quit) << c.reply;
            // Nothing after the refused step: the client closes at once.
            EXPECT_EQ(ExpectedDialogue(static_cast<size_t>(c.step)), session.received) << c.reply;
        }
    }
}

TEST_F(SmtpDialogue, AServerThatFallsSilentAtAnyStepEndsTheMailAtTheTimeOut)
{
    const int results[FakeSmtpServer::STEP_COUNT - 1] = {220, 250, 250, 250, 250, 354, 250};
    for (int step = FakeSmtpServer::GREETING; step < FakeSmtpServer::QUIT; ++step) {
        FakeSmtpServer::Script script;
        script.silentAt = step;
        FakeSmtpServer server(certificate_, script);
        ASSERT_TRUE(server.Start());
        std::string error;
        EXPECT_EQ(results[step], SendTestMail("localhost", server.Port(), &error)) << "silent at " << step;
        EXPECT_EQ("No reply from the server.", error);
        // The client leaves; the server sees the connection end.
        EXPECT_TRUE(server.WaitSessions(1, 5000));
    }
}

TEST_F(SmtpDialogue, AServerThatClosesMidDialogueEndsTheMailWithoutHarm)
{
    // This binary leaves SIGPIPE at its default: a write that raised it
    // would end the test.
    const int results[FakeSmtpServer::STEP_COUNT - 1] = {220, 250, 250, 250, 250, 354, 250};
    for (int step = FakeSmtpServer::GREETING; step < FakeSmtpServer::QUIT; ++step) {
        FakeSmtpServer::Script script;
        script.closeAt = step;
        FakeSmtpServer server(certificate_, script);
        ASSERT_TRUE(server.Start());
        EXPECT_EQ(results[step], SendTestMail("localhost", server.Port())) << "closed at " << step;
    }
    // A large message written into a connection the server has closed.
    FakeSmtpServer::Script script;
    script.closeAt = FakeSmtpServer::MESSAGE;
    FakeSmtpServer server(certificate_, script);
    ASSERT_TRUE(server.Start());
    SimpleSslSmtpEmail client("localhost", std::to_string(server.Port()), SHORT_TIMEOUT_MS);
    EXPECT_EQ(250, client.SendEmail("ops@example.com", "secret", "boss@example.com", "big",
                                    std::string(4 * 1024 * 1024, 'x')));
}

TEST_F(SmtpDialogue, APeerThatDoesNotSpeakTlsFailsTheConnect)
{
    for (bool greetsInClear : {false, true}) {
        // Silent: accepted by the kernel's backlog, never by anyone who
        // speaks. In clear: a plain SMTP server's greeting.
        int port = 0;
        int fd = TestClient_BindLoopback(true, &port);
        ASSERT_GE(fd, 0);
        std::thread plain;
        if (greetsInClear) {
            plain = std::thread([fd] {
                int peer = accept(fd, nullptr, nullptr);
                if (peer < 0) return;
                const char greeting[] = "220 plain.test ESMTP\r\n";
                send(peer, greeting, sizeof(greeting) - 1, MSG_NOSIGNAL);
                char buffer[4096];
                while (recv(peer, buffer, sizeof(buffer), 0) > 0) {
                }
                close(peer);
            });
        }
        std::string error;
        EXPECT_EQ(-1, SendTestMail("localhost", port, &error)) << greetsInClear;
        EXPECT_EQ(0u, error.find("Error on TLS handshake.")) << error;
        if (plain.joinable()) plain.join();
        close(fd);
    }
}

TEST_F(SmtpDialogue, ACertificateThatDoesNotVerifyEndsTheMailBeforeThePassword)
{
    struct Case {
        const char* name;
        bool otherHostsCertificate;  // served; else ours, but not trusted
    } cases[] = {{"certificate for another host name", true}, {"certificate nobody trusts", false}};
    for (const Case& c : cases) {
        Trust(otherCertificate_);
        FakeSmtpServer server(c.otherHostsCertificate ? otherCertificate_ : certificate_);
        ASSERT_TRUE(server.Start());
        std::string error;
        EXPECT_EQ(-1, SendTestMail("localhost", server.Port(), &error)) << c.name;
        EXPECT_EQ(0u, error.find("Error on verifying the server certificate.")) << c.name << ": " << error;
        ASSERT_TRUE(server.WaitSessions(1, 5000));
        EXPECT_FALSE(server.Sessions()[0].handshake) << c.name;
        EXPECT_EQ("", server.Sessions()[0].received) << c.name;
    }
}

TEST_F(SmtpDialogue, ConnectFailuresGiveMinusOneAndTheirText)
{
    // A port held bound and unlistened refuses at once.
    int port = 0;
    int held = TestClient_BindLoopback(false, &port);
    ASSERT_GE(held, 0);
    std::string error;
    EXPECT_EQ(-1, SendTestMail("127.0.0.1", port, &error));
    EXPECT_EQ("Error on calling connect().", error);
    close(held);

    SimpleSslSmtpEmail client("localhost", "no-such-smtp-service", SHORT_TIMEOUT_MS);
    EXPECT_EQ(-1, client.SendEmail("ops@example.com", "secret", "boss@example.com", "s", "b"));
    EXPECT_EQ("Error on calling getadrrinfo().", client.LastError());
}

TEST_F(SmtpDialogue, FullSendingMakesOneConnectionPerAddressAndStopsAtTheFirstFailure)
{
    FakeSmtpServer server(certificate_);
    ASSERT_TRUE(server.Start());
    SimpleSslSmtpEmail client("localhost", std::to_string(server.Port()), 5000);
    EXPECT_EQ(0, client.SendEmailFull("ops@example.com", "secret", {"b@example.com", "a@example.com"}, "s", "body",
                                      {}, {"c@example.com"}));
    ASSERT_TRUE(server.WaitSessions(3, 5000));
    std::vector<FakeSmtpServer::Session> sessions = server.Sessions();
    const char* recipients[] = {"b@example.com", "a@example.com", "c@example.com"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(std::string::npos, sessions[i].received.find(std::string("RCPT TO:<") + recipients[i] + ">\r\n"));
        EXPECT_NE(std::string::npos,
                  sessions[i].message.find("To: =?UTF-8?b?\?= <a@example.com>,=?UTF-8?b?\?= <b@example.com>\r\n"));
        EXPECT_NE(std::string::npos, sessions[i].message.find("Cc:=?UTF-8?b?\?= <c@example.com>\r\n"));
    }

    FakeSmtpServer::Script refusing;
    refusing.replies[FakeSmtpServer::RCPT] = "550 5.1.1 no such user\r\n";
    FakeSmtpServer strict(certificate_, refusing);
    ASSERT_TRUE(strict.Start());
    SimpleSslSmtpEmail refused("localhost", std::to_string(strict.Port()), 5000);
    EXPECT_EQ(-1, refused.SendEmailFull("ops@example.com", "secret", {"a@example.com", "b@example.com"}, "s", "b",
                                        {}, {}));
    ASSERT_TRUE(strict.WaitSessions(1, 5000));
    EXPECT_FALSE(strict.WaitSessions(2, 300));
}

}  // namespace
