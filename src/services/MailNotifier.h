// The mail notifier: mails the operators the caster's statistics text at
// fixed instants of a period, and each notice the caster posts as soon as it
// is posted. Settings come from the one-line file "RelaySmtp.conf"; the mail
// goes over implicit TLS through the notifier's own SimpleSslSmtpEmail, on a
// thread of its own. The centre object holds the one notifier for the life of
// the process.
//
// Any thread may set the statistics or post a notice: both only replace or
// add to a text under the notifier's mutex, so the caller never waits on the
// mail server. A posted notice stays pending until a mail has carried it and
// wakes the thread at once, also when it was posted before the thread started
// waiting or while it was sending; notices posted close together go out in
// one mail.
#pragma once

#include "services/SmtpEmail.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

class SimpleSslSmtpEmail;
struct PlatformThread;

// The subjects of the two kinds of mail.
#define SMTP_NOTICE_SUBJECT "系统提示信息"
#define SMTP_STATISTICS_SUBJECT "定期统计信息"

enum {
    SMTP_CONF_LINE_SIZE = 256,
    SMTP_CONF_TOKENS_MAX = 10,
    // Notices beyond this many pending bytes are dropped (and counted) until
    // a mail has carried the pending ones.
    SMTP_NOTICE_MAX = 65536,
};

// What the data line of "RelaySmtp.conf" gave.
struct SmtpEmailSettings {
    std::string server;
    std::string port;
    std::string user;  // login, sender address and sender name
    std::string recipient;
    int period = 0;  // seconds between statistics mails; 0 or less: none
    int phase = 0;
    int shift = 0;
};

class smtp_email {
public:
    // timeoutMs bounds every step of one mail's dialogue.
    explicit smtp_email(int timeoutMs = SMTP_TIMEOUT_MS);
    // The service never destroys its notifier; this stops and joins the
    // thread for owners that do.
    ~smtp_email();
    smtp_email(const smtp_email&) = delete;
    smtp_email& operator=(const smtp_email&) = delete;

    // Reads the settings. -1 when the file cannot be opened (not loaded);
    // else 0, also when it holds no data line. A line holding "#" anywhere is
    // a comment; the first other line, blank or not, is the data line:
    // server port user password recipient period phase shift.
    int LoadConf(const char* path);
    // 1 when not loaded; else makes the mailer and starts the thread, 0.
    int Start();
    // Tells the thread to end and waits at most timeoutMs for it: a mail in
    // progress is finished first. True when the thread has ended (or never
    // started); false when it is still in a mail.
    bool Stop(unsigned timeoutMs);
    // Replaces the statistics text; does not wake the thread.
    void SetStatistics(const char* text);
    // Adds a notice and wakes the thread.
    void PostNotice(const char* text);
    // Builds and sends one mail from the pending texts; 1 when there is no
    // mailer, else 0. Nothing is sent when there is nothing to say.
    int SendReport();
    // Waits until a notice is pending, the notifier is stopping, or seconds
    // have passed (0 or less: no wait); negative for no time limit. False
    // when stopping.
    bool WaitFor(int64_t seconds);

    // Seconds from now (seconds since 1970) to the next statistics mail: the
    // next instant T > now with T + shift - phase a multiple of period.
    // -1 when period is 0 or less: no scheduled mail.
    static int64_t ScheduleWait(int64_t now, int period, int phase, int shift);

    bool Loaded() const { return loaded_ == 1; }
    SmtpEmailSettings Settings() const;

private:
    static unsigned ThreadLoop(void* notifier);

    int loaded_ = 0;
    SmtpEmailSettings settings_;
    std::string password_;
    std::string statistics_;
    std::string notice_;
    size_t droppedNotices_ = 0;
    SimpleSslSmtpEmail* mailer_ = nullptr;
    int timeoutMs_;
    PlatformThread* thread_ = nullptr;
    bool stopping_ = false;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
};
