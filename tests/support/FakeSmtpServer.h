// A fake mail server for tests: implicit TLS from the first byte, on a free
// loopback port, one connection at a time, with a scripted reply for each
// step of the SMTP dialogue. It keeps every byte each client sent, so a test
// can check the dialogue and the message byte for byte. A script can split
// each reply over several writes, stop answering at a step, or close the
// connection at a step.
#pragma once

#include "support/TestCertificate.h"
#include "support/TestClient.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeSmtpServer {
public:
    // The dialogue's steps, in order; each but GREETING starts with what the
    // client sends.
    enum Step { GREETING, EHLO, AUTH, MAIL, RCPT, DATA, MESSAGE, QUIT, STEP_COUNT };

    struct Script {
        std::string replies[STEP_COUNT] = {
            "220 fake.test ESMTP\r\n",
            "250-fake.test greets EmailService\r\n250-AUTH PLAIN LOGIN\r\n250-SIZE 10240000\r\n250 8BITMIME\r\n",
            "235 2.7.0 Authentication successful\r\n",
            "250 2.1.0 Ok\r\n",
            "250 2.1.5 Ok\r\n",
            "354 End data with <CR><LF>.<CR><LF>\r\n",
            "250 2.0.0 Ok: queued\r\n",
            "221 2.0.0 Bye\r\n",
        };
        // Each reply line in a write of its own, the first line cut in two,
        // with a pause between the writes.
        bool splitReplies = false;
        // From this step on nothing is answered; the connection is held
        // until the client leaves or the server stops.
        int silentAt = -1;
        // At this step the connection is closed before the client's command
        // is read, so what the client writes next meets a closed socket.
        int closeAt = -1;
    };

    struct Session {
        bool handshake = false;
        std::string received;  // every byte the client sent, in order
        std::string message;   // the DATA text, terminator included
        bool quit = false;
    };

    FakeSmtpServer(const TestCertificate& certificate, const Script& script)
        : certificate_(certificate), script_(script)
    {
    }
    explicit FakeSmtpServer(const TestCertificate& certificate) : FakeSmtpServer(certificate, Script()) {}
    ~FakeSmtpServer() { Stop(); }
    FakeSmtpServer(const FakeSmtpServer&) = delete;
    FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

    // Listens on a free loopback port. False when the certificate does not
    // load or no port can be bound.
    bool Start()
    {
        context_ = SSL_CTX_new(TLS_server_method());
        if (!context_ || SSL_CTX_use_certificate_file(context_, certificate_.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(context_, certificate_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            return false;
        }
        listener_ = TestClient_BindLoopback(true, &port_);
        if (listener_ < 0) return false;
        thread_ = std::thread([this] { Serve(); });
        return true;
    }

    void Stop()
    {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
        listener_ = -1;
        if (context_) SSL_CTX_free(context_);
        context_ = nullptr;
    }

    int Port() const { return port_; }

    // True once n connections have ended within the time-out.
    bool WaitSessions(size_t n, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return sessions_.size() >= n; });
    }

    std::vector<Session> Sessions() const
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return sessions_;
    }

    // Connections accepted so far, ended or not.
    int Accepted() const { return accepted_; }

    // True once n connections have been accepted within the time-out.
    bool WaitAccepted(int n, int timeoutMs) const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (accepted_ < n) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    void Serve()
    {
        // The server's own writes to a client that has left must not end the
        // test; the client's writes are what the tests watch.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (!stopping_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++accepted_;
            Session session = Converse(fd);
            std::lock_guard<std::mutex> guard(mutex_);
            sessions_.push_back(session);
            ended_.notify_all();
        }
    }

    Session Converse(int fd)
    {
        Session session;
        timeval limit{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
        SSL* tls = SSL_new(context_);
        SSL_set_fd(tls, fd);
        session.handshake = SSL_accept(tls) == 1;
        bool orderly = session.handshake && Dialogue(tls, fd, &session);
        if (orderly) SSL_shutdown(tls);
        SSL_free(tls);
        ERR_clear_error();
        close(fd);
        return session;
    }

    // False when the connection ends without an orderly close.
    bool Dialogue(SSL* tls, int fd, Session* session)
    {
        std::string input;
        for (int step = GREETING; step < STEP_COUNT; ++step) {
            if (step == script_.closeAt) return false;
            if (step != GREETING) {
                const char* end = step == MESSAGE ? "\r\n.\r\n" : "\r\n";
                std::string command;
                if (!ReadUntil(tls, fd, &input, end, &command)) return false;
                session->received += command;
                if (step == MESSAGE) session->message = command;
                if (step == QUIT) session->quit = true;
            }
            if (script_.silentAt >= 0 && step >= script_.silentAt) {
                Hold(tls, fd);
                return false;
            }
            if (!Reply(tls, script_.replies[step])) return false;
        }
        return true;
    }

    // Everything up to and including the next marker, into *out.
    bool ReadUntil(SSL* tls, int fd, std::string* input, const std::string& marker, std::string* out)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        size_t at;
        while ((at = input->find(marker)) == std::string::npos) {
            if (stopping_ || std::chrono::steady_clock::now() > deadline) return false;
            if (SSL_pending(tls) == 0) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 50) != 1) continue;
            }
            char buffer[16384];
            int got = SSL_read(tls, buffer, sizeof(buffer));
            if (got <= 0) return false;
            input->append(buffer, static_cast<size_t>(got));
        }
        *out = input->substr(0, at + marker.size());
        input->erase(0, at + marker.size());
        return true;
    }

    bool Reply(SSL* tls, const std::string& reply)
    {
        if (!script_.splitReplies) return SSL_write(tls, reply.data(), static_cast<int>(reply.size())) > 0;
        std::vector<std::string> pieces;
        size_t start = 0;
        while (start < reply.size()) {
            size_t lf = reply.find('\n', start);
            size_t end = lf == std::string::npos ? reply.size() : lf + 1;
            std::string line = reply.substr(start, end - start);
            if (pieces.empty() && line.size() > 2) {
                pieces.push_back(line.substr(0, 2));
                line.erase(0, 2);
            }
            pieces.push_back(line);
            start = end;
        }
        for (const std::string& piece : pieces) {
            if (SSL_write(tls, piece.data(), static_cast<int>(piece.size())) <= 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Says nothing until the client leaves or the server stops.
    void Hold(SSL* tls, int fd)
    {
        while (!stopping_) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            char buffer[4096];
            if (SSL_read(tls, buffer, sizeof(buffer)) <= 0) return;
        }
    }

    TestCertificate certificate_;
    Script script_;
    SSL_CTX* context_ = nullptr;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<Session> sessions_;
};

// Standard Base64 back to bytes (no line breaks); empty for bad input.
inline std::string FakeSmtp_Base64Decode(const std::string& text)
{
    if (text.size() % 4 != 0) return std::string();
    std::string out(text.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return std::string();
    size_t pad = 0;
    while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

// The decoded text of a message's first Base64 part (the mail's body).
inline std::string FakeSmtp_MessageBody(const std::string& message)
{
    const std::string marker = "Content-Transfer-Encoding: base64\r\n\r\n";
    size_t at = message.find(marker);
    if (at == std::string::npos) return std::string();
    at += marker.size();
    return FakeSmtp_Base64Decode(message.substr(at, message.find("\r\n", at) - at));
}

// The decoded text of the message's Subject header.
inline std::string FakeSmtp_MessageSubject(const std::string& message)
{
    const std::string marker = "\r\nSubject: =?UTF-8?b?";
    size_t at = message.find(marker);
    if (at == std::string::npos) return std::string();
    at += marker.size();
    return FakeSmtp_Base64Decode(message.substr(at, message.find("?=", at) - at));
}
