// The alarm-post worker against a small HTTP server on loopback: bodies go
// out by POST with the JSON header, in queue order and each once; pause and
// resume hold and release passes; a silent endpoint costs a post its time-out
// and nothing more.
#include "support/FakeAuthCentre.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "services/AlarmPost.h"
#include "services/HttpPostClient.h"
#include "services/HttpPostThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

FakeAuthCentre::Answer Replying()
{
    FakeAuthCentre::Answer answer;
    answer.body = "{\"ok\":true}";
    return answer;
}

FakeAuthCentre::Answer Silent()
{
    FakeAuthCentre::Answer answer;
    answer.silent = true;
    return answer;
}

std::vector<std::string> Bodies(FakeAuthCentre& server)
{
    std::vector<std::string> bodies;
    for (const std::string& request : server.Requests()) bodies.push_back(FakeAuthCentre::BodyOf(request));
    return bodies;
}

std::string Alarm(int n) { return "{\"alarm\":" + std::to_string(n) + ",\"text\":\"站点离线\"}"; }

WarningConfig Warning(const std::string& url, int enableWarn)
{
    WarningConfig config;
    memset(&config, 0, sizeof(config));
    snprintf(config.url, sizeof(config.url), "%s", url.c_str());
    config.enableWarn = enableWarn;
    return config;
}

// Long enough for the worker to finish a pass and its gap and go idle.
const int kIdleMs = 200;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(HttpPostThread, EmptyUrlStartsNothing)
{
    HttpPostThread worker;
    worker.Start();
    EXPECT_FALSE(worker.IsRunning());
    worker.SetUrl("");
    worker.Start();
    EXPECT_FALSE(worker.IsRunning());
}

TEST(HttpPostThread, PostsEveryBodyOnceInQueueOrderWithTheJsonHeader)
{
    FakeAuthCentre server(Replying());
    HttpPostThread worker;
    worker.SetUrl(server.Url().c_str());
    worker.Start();
    ASSERT_TRUE(worker.IsRunning());

    std::vector<std::string> sent;
    for (int i = 0; i < 30; ++i) {
        sent.push_back(Alarm(i));
        worker.PushMsg(sent.back());
        if (i % 7 == 0) Sleep(20);  // several passes, not one
    }
    ASSERT_TRUE(server.WaitRequests(sent.size(), 10000)) << server.RequestCount();
    Sleep(300);
    EXPECT_EQ(Bodies(server), sent);

    std::string first = server.Requests().front();
    EXPECT_EQ(first.compare(0, 17, "POST /auth/check "), 0) << first;
    EXPECT_NE(first.find("\r\nContent-Type:application/json;charset=UTF-8\r\n"), std::string::npos) << first;
    EXPECT_EQ(first.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos) << first;
    EXPECT_EQ(worker.QueuedCount(), 0u);
}

TEST(HttpPostThread, PauseHoldsNewPassesAndResumeReleasesThem)
{
    FakeAuthCentre server(Replying());
    HttpPostThread worker;
    worker.SetUrl(server.Url().c_str());
    worker.Start();
    worker.PushMsg(Alarm(1));
    ASSERT_TRUE(server.WaitRequests(1, 5000));
    Sleep(kIdleMs);

    // The pass the idle worker waits for still goes out; the next one waits.
    worker.Pause();
    worker.PushMsg(Alarm(2));
    ASSERT_TRUE(server.WaitRequests(2, 5000));
    Sleep(kIdleMs);
    worker.PushMsg(Alarm(3));
    worker.PushMsg(Alarm(4));
    Sleep(400);
    EXPECT_EQ(server.RequestCount(), 2u) << "posted while paused";

    worker.Resume();
    ASSERT_TRUE(server.WaitRequests(4, 5000));
    EXPECT_EQ(Bodies(server), (std::vector<std::string>{Alarm(1), Alarm(2), Alarm(3), Alarm(4)}));
}

TEST(HttpPostThread, StartedWhilePausedPostsOnePassThenWaitsForResume)
{
    FakeAuthCentre server(Replying());
    HttpPostThread worker;
    worker.SetUrl(server.Url().c_str());
    worker.Pause();
    worker.PushMsg(Alarm(0));  // dropped: a start empties the queue
    worker.Start();
    ASSERT_TRUE(worker.IsRunning());
    EXPECT_TRUE(worker.IsPaused());

    worker.PushMsg(Alarm(1));
    ASSERT_TRUE(server.WaitRequests(1, 5000));
    Sleep(kIdleMs);
    worker.PushMsg(Alarm(2));
    Sleep(400);
    EXPECT_EQ(server.RequestCount(), 1u);

    worker.Resume();
    ASSERT_TRUE(server.WaitRequests(2, 5000));
    EXPECT_EQ(Bodies(server), (std::vector<std::string>{Alarm(1), Alarm(2)}));
}

TEST(HttpPostThread, StopEndsTheWorkerAndStartRunsItAgain)
{
    FakeAuthCentre server(Replying());
    LogCapture log;
    HttpPostThread worker;
    worker.SetUrl(server.Url().c_str());
    worker.Start();
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(log.Has("Exit PostMsgThreadFuc."));

    worker.Start();
    worker.PushMsg(Alarm(1));
    EXPECT_TRUE(server.WaitRequests(1, 5000));
}

// A silent endpoint holds each post for the 5 s total time-out; the queue
// still advances, and the worker's mutex is free meanwhile.
TEST(HttpPostThread, SilentEndpointTimesOutEachPostAndTheQueueAdvances)
{
    FakeAuthCentre server(Silent());
    HttpPostThread worker;
    worker.SetUrl(server.Url().c_str());
    worker.Start();
    auto start = std::chrono::steady_clock::now();
    worker.PushMsg(Alarm(1));
    worker.PushMsg(Alarm(2));
    ASSERT_TRUE(server.WaitRequests(1, 3000));

    auto before = std::chrono::steady_clock::now();
    worker.Pause();
    worker.PushMsg(Alarm(3));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << "blocked behind a post";
    worker.Resume();

    ASSERT_TRUE(server.WaitRequests(2, 8000));
    double secondAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(secondAfter, 4.5);
    EXPECT_EQ(Bodies(server), (std::vector<std::string>{Alarm(1), Alarm(2)}));
}

TEST(HttpPostClient, SilentServerEndsThePostWithinItsTimeOut)
{
    FakeAuthCentre server(Silent());
    HttpPostClient client;
    client.Configure(server.Url().c_str(), 5, 2);
    auto start = std::chrono::steady_clock::now();
    CURLcode result = client.Post("{}");
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result, CURLE_OPERATION_TIMEDOUT);
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 4.0);
}

TEST(HttpPostClient, ReconfiguredUrlIsUsedByTheNextPost)
{
    FakeAuthCentre first(Replying());
    FakeAuthCentre second(Replying());
    HttpPostClient client;
    client.Configure(first.Url().c_str(), 5, 5);
    EXPECT_EQ(client.Post("{\"n\":1}"), CURLE_OK);
    client.Configure(second.Url().c_str(), 5, 5);
    EXPECT_EQ(client.GetUrl(), second.Url());
    EXPECT_EQ(client.Post("{\"n\":2}"), CURLE_OK);
    EXPECT_EQ(Bodies(first), std::vector<std::string>{"{\"n\":1}"});
    EXPECT_EQ(Bodies(second), std::vector<std::string>{"{\"n\":2}"});
}

namespace {

// What the last posts got back, through the client's write callback.
std::string g_received;

size_t Receive(char* data, size_t size, size_t count, void*)
{
    g_received.append(data, size * count);
    return size * count;
}

}  // namespace

TEST(HttpPostClient, OnlyHttpAndHttpsUrlsAreFollowed)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.File("secret.txt"), "local file content"));
    FakeAuthCentre server(Replying());
    const std::string hostPort = "127.0.0.1:" + std::to_string(server.Port());
    const std::string refused[] = {
        "file://" + dir.File("secret.txt"),
        "FILE://" + dir.File("secret.txt"),
        "gopher://" + hostPort + "/x",
        "smtp://" + hostPort,
        "dict://" + hostPort + "/d:word",
        "ftp://" + hostPort + "/x",
        "telnet://" + hostPort,
    };
    HttpPostClient client;
    g_received.clear();
    for (const std::string& url : refused) {
        client.Configure(url.c_str(), 2, 2, Receive);
        EXPECT_EQ(client.Post("{\"alarm\":1}"), CURLE_UNSUPPORTED_PROTOCOL) << url;
    }
    EXPECT_EQ(g_received, "");
    EXPECT_EQ(ReadFile(dir.File("secret.txt")), "local file content");
    EXPECT_EQ(server.RequestCount(), 0u);

    // The same client still posts to an http url.
    client.Configure(server.Url().c_str(), 5, 5, Receive);
    EXPECT_EQ(client.Post("{\"alarm\":2}"), CURLE_OK);
    EXPECT_EQ(Bodies(server), std::vector<std::string>{"{\"alarm\":2}"});
    EXPECT_EQ(g_received, "{\"ok\":true}");
}

TEST(ApplyWarningConfig, DisablePausesAndEnableResumesTheSameWorker)
{
    FakeAuthCentre server(Replying());
    LogCapture log;
    HttpPostThread worker;
    WarningConfig stored;
    memset(&stored, 0, sizeof(stored));

    WarningConfig on = Warning(server.Url(), 1);
    ApplyWarningConfigTo(&worker, &stored, &on);
    ASSERT_TRUE(worker.IsRunning());
    EXPECT_FALSE(worker.IsPaused()) << "a started worker posts";
    EXPECT_EQ(std::string(stored.url), server.Url());
    worker.PushMsg(Alarm(1));
    ASSERT_TRUE(server.WaitRequests(1, 5000));

    Sleep(kIdleMs);

    WarningConfig off = Warning(server.Url(), 0);
    ApplyWarningConfigTo(&worker, &stored, &off);
    EXPECT_TRUE(worker.IsPaused());
    EXPECT_EQ(stored.enableWarn, 0);
    worker.PushMsg(Alarm(2));  // the pass the idle worker was waiting for
    ASSERT_TRUE(server.WaitRequests(2, 5000));
    Sleep(kIdleMs);
    worker.PushMsg(Alarm(3));
    Sleep(400);
    EXPECT_EQ(server.RequestCount(), 2u);

    ApplyWarningConfigTo(&worker, &stored, &on);
    ASSERT_TRUE(server.WaitRequests(3, 5000)) << "the queued body was dropped by a second start";
    EXPECT_EQ(Bodies(server), (std::vector<std::string>{Alarm(1), Alarm(2), Alarm(3)}));
    std::string text = log.Text();
    size_t starts = 0;
    for (size_t at = text.find("Start PostMsgThreadFuc."); at != std::string::npos;
         at = text.find("Start PostMsgThreadFuc.", at + 1)) {
        ++starts;
    }
    EXPECT_EQ(starts, 1u);
}

TEST(ApplyWarningConfig, NewUrlRetargetsTheRunningWorker)
{
    FakeAuthCentre first(Replying());
    FakeAuthCentre second(Replying());
    HttpPostThread worker;
    WarningConfig stored;
    memset(&stored, 0, sizeof(stored));

    WarningConfig one = Warning(first.Url(), 1);
    ApplyWarningConfigTo(&worker, &stored, &one);
    worker.PushMsg(Alarm(1));
    ASSERT_TRUE(first.WaitRequests(1, 5000));

    WarningConfig two = Warning(second.Url(), 1);
    ApplyWarningConfigTo(&worker, &stored, &two);
    EXPECT_EQ(worker.GetUrl(), second.Url());
    worker.PushMsg(Alarm(2));
    ASSERT_TRUE(second.WaitRequests(1, 5000));
    EXPECT_EQ(first.RequestCount(), 1u);
}

TEST(ApplyWarningConfig, EnabledWithoutUrlStartsNothing)
{
    HttpPostThread worker;
    WarningConfig stored;
    memset(&stored, 0, sizeof(stored));
    WarningConfig on = Warning("", 1);
    ApplyWarningConfigTo(&worker, &stored, &on);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(stored.enableWarn, 1);
}
