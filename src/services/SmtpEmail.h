// The SMTP client over a plain TCP socket: connect, AUTH PLAIN, one message
// built as MIME with Base64 parts and encoded-word headers, quit. Each mail is
// one connection; the socket and address list exist only between Connect and
// Disconnect. The dialogue runs through the virtual transport, so the TLS
// client reuses it.
//
// Every step is bounded by the time-out given at construction: the connect,
// each write, and each whole reply. A server that stops answering therefore
// ends the attempt with the step's failure result instead of hanging.
#pragma once

#include "services/SmtpBase.h"

#include <string>

struct addrinfo;

enum {
    SMTP_TIMEOUT_MS = 60000,
    // Connect results.
    SMTP_CONNECT_OK = 0,
    SMTP_ERROR_SOCKET = -1,
    SMTP_ERROR_RESOLVE = -2,
    SMTP_ERROR_CONNECT = -3,
    SMTP_ERROR_TLS = -4,  // handshake failed or the certificate did not verify
    // A reply longer than this is refused rather than buffered without end.
    SMTP_REPLY_MAX = 65536,
};

class SmtpEmail : public SmtpBase {
public:
    // port is a service name or a decimal port, handed to name resolution as
    // it stands.
    SmtpEmail(const std::string& host, const std::string& port, int timeoutMs = SMTP_TIMEOUT_MS);
    ~SmtpEmail() override;
    SmtpEmail(const SmtpEmail&) = delete;
    SmtpEmail& operator=(const SmtpEmail&) = delete;

    // One connection per address of to, then of cc; -1 at the first one that
    // fails, 0 when all went through.
    int SendEmailFull(const std::string& sender, const std::string& password, const std::vector<std::string>& to,
                      const std::string& subject, const std::string& body,
                      const std::vector<std::string>& attachments, const std::vector<std::string>& cc) override;
    // Sender is login, MAIL FROM and From; charset "UTF-8". The result of
    // SendMailDialogue.
    int SendEmail(const std::string& sender, const std::string& password, const std::string& recipient,
                  const std::string& subject, const std::string& body) override;

    // 0 sent; -1 Connect failed; else the failure result of the step whose
    // reply was not the expected code: 220 greeting, 250 EHLO, AUTH, MAIL
    // FROM, RCPT TO and message, 354 DATA.
    int SendMailDialogue(const SmtpMailInfo& mail);

    // The message text, ending with the DATA terminator.
    virtual std::string BuildMessage(const SmtpMailInfo& mail);

    const std::string& Host() const { return host_; }
    const std::string& Port() const { return port_; }
    int TimeoutMs() const { return timeoutMs_; }

protected:
    int Read(char* buffer, int length) override;
    int Write(const char* buffer, int length) override;
    int Connect() override;
    int Disconnect() override;

    int Socket() const { return socket_; }

private:
    bool WriteAll(const std::string& bytes);
    // One whole reply: every line up to the one whose code is not followed by
    // '-'. False on time-out, end of stream or an overlong reply.
    bool ReadReply(std::string* reply);
    int Fail(int result, const std::string& error);

    std::string host_;
    std::string port_;
    int timeoutMs_;
    addrinfo* addresses_ = nullptr;
    int socket_ = -1;
    std::string pending_;  // bytes read past the end of the last reply
};
