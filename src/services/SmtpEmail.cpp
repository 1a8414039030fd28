#include "services/SmtpEmail.h"

#include "services/SmtpHelpers.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

// AUTH PLAIN without an authorisation identity: NUL, user, NUL, password.
std::string AuthPlainToken(const SmtpMailInfo& mail)
{
    std::string plain;
    plain += '\0';
    plain += mail.senderAddress;
    plain += '\0';
    plain += mail.password;
    return Base64Encode(plain);
}

// The end of the first complete reply in text (one past its last line feed),
// or 0 while the reply is still coming. A line whose code is followed by '-'
// announces more lines.
size_t ReplyEnd(const std::string& text)
{
    size_t start = 0;
    for (;;) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos) return 0;
        bool more = lf - start >= 4 && text[start + 3] == '-';
        if (!more) return lf + 1;
        start = lf + 1;
    }
}

bool ConnectWithin(int fd, const sockaddr* address, socklen_t length, int timeoutMs)
{
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
    int rc = connect(fd, address, length);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t size = sizeof(error);
        rc = ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0 ? 0 : -1;
    }
    return rc == 0 && fcntl(fd, F_SETFL, flags) == 0;
}

// A UTF-8 mail whose sender is also its login and its shown name.
SmtpMailInfo TextMail(const std::string& sender, const std::string& password, const std::string& subject,
                      const std::string& body)
{
    SmtpMailInfo mail;
    mail.charset = "UTF-8";
    mail.senderName = sender;
    mail.senderAddress = sender;
    mail.password = password;
    mail.subject = subject;
    mail.body = body;
    return mail;
}

}  // namespace

SmtpEmail::SmtpEmail(const std::string& host, const std::string& port, int timeoutMs)
    : host_(host), port_(port), timeoutMs_(timeoutMs > 0 ? timeoutMs : SMTP_TIMEOUT_MS)
{
}

SmtpEmail::~SmtpEmail()
{
    SmtpEmail::Disconnect();
}

int SmtpEmail::SendEmail(const std::string& sender, const std::string& password, const std::string& recipient,
                         const std::string& subject, const std::string& body)
{
    SmtpMailInfo mail = TextMail(sender, password, subject, body);
    mail.recipientAddress = recipient;
    mail.to[recipient] = "";
    return SendMailDialogue(mail);
}

int SmtpEmail::SendEmailFull(const std::string& sender, const std::string& password,
                             const std::vector<std::string>& to, const std::string& subject, const std::string& body,
                             const std::vector<std::string>& attachments, const std::vector<std::string>& cc)
{
    SmtpMailInfo mail = TextMail(sender, password, subject, body);
    mail.attachments = attachments;
    for (const std::string& address : to) mail.to[address] = "";
    for (const std::string& address : cc) mail.cc[address] = "";
    std::vector<std::string> recipients(to);
    recipients.insert(recipients.end(), cc.begin(), cc.end());
    for (const std::string& address : recipients) {
        mail.recipientAddress = address;
        if (SendMailDialogue(mail) != 0) return -1;
    }
    return 0;
}

int SmtpEmail::SendMailDialogue(const SmtpMailInfo& mail)
{
    if (Connect() != SMTP_CONNECT_OK) return -1;

    struct Step {
        std::string command;  // empty: the server speaks first
        const char* expected;
        int failure;
    };
    // A refused AUTH reports 250, as callers of this client have always seen it.
    const Step steps[] = {
        {"", "220", 220},
        {"ehlo EmailService\r\n", "250", 250},
        {"AUTH PLAIN " + AuthPlainToken(mail) + "\r\n", "235", 250},
        {"mail FROM:<" + mail.senderAddress + ">\r\n", "250", 250},
        {"RCPT TO:<" + mail.recipientAddress + ">\r\n", "250", 250},
        {"data\r\n", "354", 354},
        {BuildMessage(mail), "250", 250},
    };
    for (const Step& step : steps) {
        if (!step.command.empty() && !WriteAll(step.command)) {
            return Fail(step.failure, "Error on writing to the server.");
        }
        std::string reply;
        if (!ReadReply(&reply)) {
            return Fail(step.failure, reply.empty() ? "No reply from the server." : reply);
        }
        if (reply.compare(0, 3, step.expected) != 0) return Fail(step.failure, reply);
    }
    // The server's answer to quit changes nothing.
    WriteAll("quit\r\n");
    Disconnect();
    return 0;
}

int SmtpEmail::Fail(int result, const std::string& error)
{
    SetLastError(error);
    Disconnect();
    return result;
}

bool SmtpEmail::WriteAll(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        size_t left = bytes.size() - done;
        int chunk = left > 1 << 30 ? 1 << 30 : static_cast<int>(left);
        int written = Write(bytes.data() + done, chunk);
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

bool SmtpEmail::ReadReply(std::string* reply)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    size_t end;
    while ((end = ReplyEnd(pending_)) == 0) {
        if (pending_.size() > SMTP_REPLY_MAX || std::chrono::steady_clock::now() >= deadline) {
            *reply = pending_;
            return false;
        }
        char buffer[1000];
        int got = Read(buffer, sizeof(buffer) - 1);
        if (got <= 0) {
            *reply = pending_;
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(got));
    }
    *reply = pending_.substr(0, end);
    pending_.erase(0, end);
    return true;
}

int SmtpEmail::Read(char* buffer, int length)
{
    ssize_t got;
    do {
        got = recv(socket_, buffer, static_cast<size_t>(length), 0);
    } while (got < 0 && errno == EINTR);
    return static_cast<int>(got);
}

int SmtpEmail::Write(const char* buffer, int length)
{
    ssize_t sent;
    do {
        sent = send(socket_, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

int SmtpEmail::Connect()
{
    Disconnect();
    socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        SetLastError("Error on creating socket fd.");
        return SMTP_ERROR_SOCKET;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host_.c_str(), port_.c_str(), &hints, &addresses_) != 0 || !addresses_) {
        addresses_ = nullptr;
        Disconnect();
        SetLastError("Error on calling getadrrinfo().");
        return SMTP_ERROR_RESOLVE;
    }
    if (!ConnectWithin(socket_, addresses_->ai_addr, addresses_->ai_addrlen, timeoutMs_)) {
        Disconnect();
        SetLastError("Error on calling connect().");
        return SMTP_ERROR_CONNECT;
    }
    // Each read and write of the dialogue waits at most the time-out.
    timeval limit{timeoutMs_ / 1000, (timeoutMs_ % 1000) * 1000};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    return SMTP_CONNECT_OK;
}

int SmtpEmail::Disconnect()
{
    if (addresses_) freeaddrinfo(addresses_);
    addresses_ = nullptr;
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
    pending_.clear();
    return 0;
}
