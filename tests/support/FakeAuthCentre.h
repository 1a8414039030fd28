// An authentication centre for tests, on 127.0.0.1 and a free port: it reads
// each HTTP request (headers and the Content-Length body), keeps it, waits
// delayMs, and answers with one status and body, or with what a judge set by
// SetJudge makes of the user's name; a silent centre keeps the connection and
// never answers, a held answer waits until LetGo. Each connection is served on a thread of its own, so a slow
// answer to one check does not hold up the next. It counts the checks of
// each name in flight at once.
#pragma once

#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeAuthCentre {
public:
    struct Answer {
        int status = 200;
        std::string body = "{\"code\":0}";
        int delayMs = 0;
        bool silent = false;
        bool held = false;  // sent only once LetGo has been called (or the centre goes)
    };

    explicit FakeAuthCentre(Answer answer)
        : answer_(answer), listener_(16, [this](int fd) { return std::function<void()>([this, fd] { Serve(fd); }); })
    {
    }
    ~FakeAuthCentre() { listener_.Stop(); }
    FakeAuthCentre(const FakeAuthCentre&) = delete;
    FakeAuthCentre& operator=(const FakeAuthCentre&) = delete;

    // The answer to the checks that arrive from now on.
    void SetAnswer(Answer answer)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        answer_ = answer;
    }

    // The held answers go out, those waiting and any to come.
    void LetGo() { letGo_ = true; }

    // From now on each check is answered with judge(name of the check).
    void SetJudge(std::function<Answer(const std::string& name)> judge)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        judge_ = std::move(judge);
    }

    // The most checks of the user name that were in flight at one moment.
    int MostInFlight(const std::string& name)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = mostInFlight_.find(name);
        return it == mostInFlight_.end() ? 0 : it->second;
    }
    // The checks of the user name received so far.
    size_t RequestCountOf(const std::string& name)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        size_t n = 0;
        for (const std::string& request : requests_) n += NameOf(request) == name ? 1 : 0;
        return n;
    }

    // The "name" of a request's JSON body (the caster's compact writer's form).
    static std::string NameOf(const std::string& request)
    {
        const std::string key = "\"name\":\"";
        std::string body = BodyOf(request);
        size_t at = body.find(key);
        if (at == std::string::npos) return "";
        at += key.size();
        size_t end = body.find('"', at);
        return end == std::string::npos ? "" : body.substr(at, end - at);
    }

    int Port() const { return listener_.Port(); }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port()) + "/auth/check"; }

    // The requests received so far, whole (headers and body).
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }
    size_t RequestCount()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_.size();
    }
    bool WaitRequests(size_t n, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= n; });
    }

    // The body of a request (after its blank line).
    static std::string BodyOf(const std::string& request)
    {
        size_t at = request.find("\r\n\r\n");
        return at == std::string::npos ? "" : request.substr(at + 4);
    }

private:
    void Serve(int fd)
    {
        std::string request = ReadRequest(fd);
        const std::string name = NameOf(request);
        Answer answer;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.push_back(request);
            answer = judge_ ? judge_(name) : answer_;
            int& now = inFlight_[name];
            ++now;
            mostInFlight_[name] = std::max(mostInFlight_[name], now);
        }
        changed_.notify_all();
        if (answer.silent) {
            // Holds the connection until the centre goes.
            while (!listener_.Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Done(name);
            close(fd);
            return;
        }
        while (answer.held && !letGo_.load() && !listener_.Stopping()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.delayMs);
        while (!listener_.Stopping() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        char head[256];
        snprintf(head, sizeof(head),
                 "HTTP/1.1 %d Whatever\r\nContent-Type: application/json\r\nContent-Length: %zu\r\n"
                 "Connection: close\r\n\r\n",
                 answer.status, answer.body.size());
        std::string reply = head + answer.body;
        // Out of flight before the caster can read the answer and ask again.
        Done(name);
        size_t done = 0;
        while (done < reply.size()) {
            ssize_t n = send(fd, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fd);
    }

    void Done(const std::string& name)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        --inFlight_[name];
    }

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

    Answer answer_;  // guarded by mutex_, as the members up to listener_
    std::function<Answer(const std::string&)> judge_;
    std::map<std::string, int> inFlight_;
    std::map<std::string, int> mostInFlight_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> requests_;
    std::atomic<bool> letGo_{false};
    LoopbackListener listener_;  // last: its threads use the members above
};
