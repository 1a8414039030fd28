// The root of the SMTP client family: one mail per connection, results as
// small integer codes, and the reason of the last failure kept as text (a
// fixed message or the server's reply) until the next failure.
#pragma once

#include "services/SmtpMailInfo.h"

#include <string>
#include <vector>

class SmtpBase {
public:
    virtual ~SmtpBase();

    // Several recipients, copies and attachments: one connection per address.
    virtual int SendEmailFull(const std::string& sender, const std::string& password,
                              const std::vector<std::string>& to, const std::string& subject,
                              const std::string& body, const std::vector<std::string>& attachments,
                              const std::vector<std::string>& cc) = 0;
    // One recipient, no copies, no attachments.
    virtual int SendEmail(const std::string& sender, const std::string& password, const std::string& recipient,
                          const std::string& subject, const std::string& body) = 0;

    const std::string& LastError() const { return lastError_; }

protected:
    // The transport: byte counts, 0 or negative on failure.
    virtual int Read(char* buffer, int length) = 0;
    virtual int Write(const char* buffer, int length) = 0;
    virtual int Connect() = 0;
    virtual int Disconnect() = 0;

    void SetLastError(const std::string& text) { lastError_ = text; }

private:
    std::string lastError_;
};
