// The authentication-centre client against a small HTTP server on loopback:
// only an HTTP 2xx reply with the integer code 0 lets a user in, and every
// check ends within its time-out.
#include "caster/AuthCentre.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Answers every POST with one status and body, or never answers.
class FakeCentre {
public:
    FakeCentre(int status, std::string body, bool silent = false) : status_(status), body_(body), silent_(silent)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(fd_, 16) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port_ = ntohs(addr.sin_port);
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeCentre()
    {
        stop_ = true;
        thread_.join();
        for (int fd : held_) close(fd);
        close(fd_);
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/auth/check"; }
    int Connections() const { return connections_.load(); }
    std::string LastRequest()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return lastRequest_;
    }

private:
    void Run()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            std::string request = ReadRequest(fd);
            {
                std::lock_guard<std::mutex> guard(mutex_);
                lastRequest_ = request;
            }
            if (silent_) {
                held_.push_back(fd);
                continue;
            }
            char head[256];
            snprintf(head, sizeof(head),
                     "HTTP/1.1 %d Whatever\r\nContent-Type: application/json\r\nContent-Length: %zu\r\n"
                     "Connection: close\r\n\r\n",
                     status_, body_.size());
            std::string reply = head + body_;
            size_t done = 0;
            while (done < reply.size()) {
                ssize_t n = send(fd, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            close(fd);
        }
    }

    // The headers and as many body bytes as Content-Length says.
    static std::string ReadRequest(int fd)
    {
        std::string in;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        size_t want = std::string::npos;
        while (std::chrono::steady_clock::now() < end) {
            size_t headEnd = in.find("\r\n\r\n");
            if (headEnd != std::string::npos && want == std::string::npos) {
                size_t at = in.find("Content-Length: ");
                size_t length = at == std::string::npos ? 0 : strtoul(in.c_str() + at + 16, nullptr, 10);
                want = headEnd + 4 + length;
            }
            if (want != std::string::npos && in.size() >= want) break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buffer[4096];
            ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            in.append(buffer, static_cast<size_t>(n));
        }
        return in;
    }

    int status_;
    std::string body_;
    bool silent_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<int> held_;
    std::mutex mutex_;
    std::string lastRequest_;
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
