// The authentication-centre client against a small HTTP server on loopback:
// only an HTTP 2xx reply with the integer code 0 lets a user in, and every
// check ends within its time-out.
#include "caster/relay/AuthCentre.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"
#include "support/FakeAuthCentre.h"
#include "support/Files.h"
#include "support/TempDir.h"
#include "support/TestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Answers every POST with one status and body, or never answers.
class FakeCentre : public FakeAuthCentre {
public:
    FakeCentre(int status, std::string body, bool silent = false) : FakeAuthCentre(AnswerOf(status, body, silent)) {}

    int Connections() { return static_cast<int>(RequestCount()); }
    std::string LastRequest()
    {
        std::vector<std::string> all = Requests();
        return all.empty() ? std::string() : all.back();
    }

private:
    static Answer AnswerOf(int status, const std::string& body, bool silent)
    {
        Answer a;
        a.status = status;
        a.body = body;
        a.silent = silent;
        return a;
    }
};

AuthCentreConfig RecordFor(const std::string& url)
{
    AuthCentreConfig record;
    memset(&record, 0, sizeof(record));
    snprintf(record.url, sizeof(record.url), "%s", url.c_str());
    record.enabled = 1;
    return record;
}

class AuthCentreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, Log_Init(tmp_.File("auth").c_str()));
        // The centre here is on loopback: no proxy of the environment between.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
        AuthCentre::GlobalInit();
    }
    TempDir tmp_;
};

}  // namespace

TEST_F(AuthCentreTest, OnlyAn2xxReplyWithIntegerCodeZeroAccepts)
{
    struct Case {
        int status;
        const char* body;
        int result;
    } cases[] = {
        {200, "{\"code\":0}", 0},
        {200, "{\"code\":0,\"msg\":\"ok\",\"data\":{\"code\":5}}\n", 0},
        {201, "{ \"code\" : 0 }", 0},
        {200, "{\"code\":1}", 1},
        {200, "{\"code\":7,\"msg\":\"expired\"}", 7},
        {200, "{\"code\":-3}", -3},
        {200, "OK", -1},
        {200, "", -1},
        {200, "{}", -1},
        {200, "{\"msg\":\"code 0\"}", -1},
        {200, "{\"code\":\"0\"}", -1},
        {200, "{\"code\":0.0}", -1},
        {200, "{\"code\":0e0}", -1},
        {200, "{\"code\":true}", -1},
        {200, "{\"code\":null}", -1},
        {200, "[0]", -1},
        {200, "0", -1},
        {200, "{\"code\":99999999999}", -1},
        {200, "{\"code\":0} trailing", -1},
        {200, "{\"code\":1,\"code\":0}", -1},
        {500, "{\"code\":0}", -1},
        {404, "{\"code\":0}", -1},
        {302, "{\"code\":0}", -1},
    };
    for (const Case& c : cases) {
        FakeCentre centre(c.status, c.body);
        AuthCentreConfig record = RecordFor(centre.Url());
        EXPECT_EQ(c.result, AuthCentre::Post(&record, "u", "p", "1")) << c.status << " " << c.body;
        EXPECT_EQ(1, centre.Connections()) << c.body;
    }
}

TEST_F(AuthCentreTest, RequestIsOneJsonPost)
{
    FakeCentre centre(200, "{\"code\":0}");
    AuthCentreConfig record = RecordFor(centre.Url());
    ASSERT_EQ(0, AuthCentre::Post(&record, "rover7", "se\"cret", "1"));
    std::string request = centre.LastRequest();
    EXPECT_EQ(0u, request.find("POST /auth/check HTTP/1.1\r\n")) << request;
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Type: application/json\r\n")) << request;
    std::string body = "{\"name\":\"rover7\",\"node\":\"1\",\"password\":\"se\\\"cret\"}\n";
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"));
    ASSERT_GE(request.size(), body.size());
    EXPECT_EQ(body, request.substr(request.size() - body.size()));
}

TEST_F(AuthCentreTest, ACentreThatNeverAnswersRefusesWithinTheTimeOut)
{
    FakeCentre centre(200, "{\"code\":0}", true);
    AuthCentreConfig record = RecordFor(centre.Url());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, AuthCentre::Post(&record, "u", "p", "1", 300, 500));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(450));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
    EXPECT_EQ(1, centre.Connections());
}

TEST_F(AuthCentreTest, NoCentreRefusesWithoutTraffic)
{
    AuthCentreConfig disabled;
    memset(&disabled, 0, sizeof(disabled));
    FakeCentre centre(200, "{\"code\":0}");
    snprintf(disabled.url, sizeof(disabled.url), "%s", centre.Url().c_str());
    EXPECT_EQ(-1, AuthCentre::Post(&disabled, "u", "p", "1"));  // enabled 0
    EXPECT_EQ(-1, AuthCentre::Post(nullptr, "u", "p", "1"));

    AuthCentreConfig byAddress;  // an ip and a port carry no url
    memset(&byAddress, 0, sizeof(byAddress));
    snprintf(byAddress.ip, sizeof(byAddress.ip), "127.0.0.1");
    byAddress.port = 80;
    byAddress.enabled = 1;
    EXPECT_EQ(-1, AuthCentre::Post(&byAddress, "u", "p", "1"));
    EXPECT_EQ(0, centre.Connections());

    AuthCentreConfig refused = RecordFor("http://127.0.0.1:" + std::to_string(TestClient_FreePort()) + "/");
    EXPECT_EQ(-1, AuthCentre::Post(&refused, "u", "p", "1"));
    AuthCentreConfig otherScheme = RecordFor("file:///etc/hostname");
    EXPECT_EQ(-1, AuthCentre::Post(&otherScheme, "u", "p", "1"));
}

TEST_F(AuthCentreTest, AnOversizedReplyRefuses)
{
    std::string body = "{\"code\":0,\"pad\":\"" + std::string(AUTH_CENTRE_REPLY_MAX, 'x') + "\"}";
    FakeCentre centre(200, body);
    AuthCentreConfig record = RecordFor(centre.Url());
    EXPECT_EQ(-1, AuthCentre::Post(&record, "u", "p", "1"));
}

TEST_F(AuthCentreTest, ConfigLoadsFromTheFileBesideTheExecutable)
{
    char dir[EXE_DIR_PATH_SIZE];
    ASSERT_TRUE(GetExeDirPathInWin(dir));
    std::string name = "AuthCentreTest-" + std::to_string(getpid()) + ".json";
    std::string path = std::string(dir) + name;
    AuthCentreConfig record;

    ASSERT_TRUE(WriteFile(path, "{\"auth_centre\":{\"url\":\"http://127.0.0.1:1/check\"}}"));
    EXPECT_EQ(0, AuthCentre::LoadConfig(&record, name.c_str()));
    EXPECT_EQ(1, record.enabled);
    EXPECT_STREQ("http://127.0.0.1:1/check", record.url);

    ASSERT_TRUE(WriteFile(path, "{\"ntrip_server\":{}}"));  // no section: no centre
    EXPECT_EQ(0, AuthCentre::LoadConfig(&record, name.c_str()));
    EXPECT_EQ(0, record.enabled);

    ASSERT_TRUE(WriteFile(path, "not json"));
    EXPECT_EQ(-1, AuthCentre::LoadConfig(&record, name.c_str()));
    EXPECT_EQ(0, record.enabled);
    unlink(path.c_str());
    EXPECT_EQ(-1, AuthCentre::LoadConfig(&record, name.c_str()));
    EXPECT_EQ(-1, AuthCentre::LoadConfig(nullptr, name.c_str()));
}

// A reply the JSON reader throws on (nesting past its stack limit) comes
// back from the centre like any other refusal.
TEST_F(AuthCentreTest, AReplyTooDeepToReadRefuses)
{
    FakeCentre centre(200, std::string(2000, '[') + std::string(2000, ']'));
    AuthCentreConfig record = RecordFor(centre.Url());
    EXPECT_EQ(-1, AuthCentre::Post(&record, "u", "p", "1"));
}

// Texts within the reply's size cap that a centre may send: what the reader
// throws on, numbers past an int and anything but an object are refusals,
// never an exception.
TEST(AuthCentreReplyTest, ParseReplyCodeRefusesDeepNestingHugeNumbersAndNonObjects)
{
    auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    std::string objects;
    for (int i = 0; i < 2000; ++i) objects += "{\"a\":";
    objects += "0" + std::string(2000, '}');
    struct Case {
        const char* what;
        std::string body;
        bool read;
        int code;
    } cases[] = {
        {"2,000 nested arrays", arrays(2000), false, 0},
        {"2,000 arrays left open", std::string(2000, '['), false, 0},
        {"2,000 nested objects", objects, false, 0},
        {"a code beside 2,000 nested arrays", "{\"code\":0,\"x\":" + arrays(2000) + "}", false, 0},
        {"a code beside 500 nested arrays", "{\"code\":0,\"x\":" + arrays(500) + "}", true, 0},
        {"a code just past an int", "{\"code\":2147483648}", false, 0},
        {"the least int", "{\"code\":-2147483648}", true, INT_MIN},
        {"a code of 30 digits", "{\"code\":" + std::string(30, '9') + "}", false, 0},
        {"a code of 60,000 digits", "{\"code\":" + std::string(60000, '1') + "}", false, 0},
        {"a code of 1e999", "{\"code\":1e999}", false, 0},
        {"a code of -1e999", "{\"code\":-1e999}", false, 0},
        {"a string", "\"code\"", false, 0},
        {"a number", "0", false, 0},
        {"null", "null", false, 0},
        {"true", "true", false, 0},
        {"an array holding the object", "[{\"code\":0}]", false, 0},
        {"nothing", "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int code = 12345;
        bool read = false;
        EXPECT_NO_THROW(read = AuthCentre::ParseReplyCode(c.body.data(), c.body.size(), &code));
        EXPECT_EQ(c.read, read);
        EXPECT_EQ(c.read ? c.code : 12345, code) << "the code is written only when read";
    }
}

TEST(AuthCentreReplyTest, WriteCallbackCollectsUpToTheLimit)
{
    std::string reply;
    char data[] = "abcdef";
    EXPECT_EQ(6u, AuthCentre::WriteCallback(data, 1, 6, &reply));
    EXPECT_EQ(6u, AuthCentre::WriteCallback(data, 3, 2, &reply));
    EXPECT_EQ("abcdefabcdef", reply);
    std::string big(AUTH_CENTRE_REPLY_MAX - 12, 'x');
    EXPECT_EQ(0u, AuthCentre::WriteCallback(&big[0], 1, big.size() + 1, &reply));
    EXPECT_EQ(12u, reply.size());
}
