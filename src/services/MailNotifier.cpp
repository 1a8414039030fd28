#include "services/MailNotifier.h"

#include "platform/Thread.h"
#include "runtime/Log.h"
#include "runtime/SplitConfLine.h"
#include "services/SimpleSslSmtpEmail.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>

namespace {

// Leading blanks, an optional sign and the leading digits; 0 without digits.
int ConfNumber(const char* token)
{
    errno = 0;
    long value = strtol(token, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// A reply or error text on one log line.
std::string OneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

smtp_email::smtp_email(int timeoutMs) : timeoutMs_(timeoutMs) {}

smtp_email::~smtp_email()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    PlatformThread* thread;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        thread = thread_;
        thread_ = nullptr;
    }
    if (thread) Platform_JoinThread(thread);
    delete mailer_;
}

int smtp_email::LoadConf(const char* path)
{
    std::ifstream in(path ? path : "", std::ios::binary);
    if (!in) {
        loaded_ = 0;
        return -1;
    }
    std::string line;
    bool found = false;
    while (std::getline(in, line)) {
        if (line.find('#') == std::string::npos) {
            found = true;
            break;
        }
    }
    loaded_ = 1;
    if (!found) return 0;

    char buffer[SMTP_CONF_LINE_SIZE];
    if (line.size() >= sizeof(buffer)) {
        Log_Warn("smtp_email::LoadConf:%s:data line longer than %d characters, cut", path,
                 SMTP_CONF_LINE_SIZE - 1);
    }
    size_t n = line.size() < sizeof(buffer) - 1 ? line.size() : sizeof(buffer) - 1;
    memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    char* tokens[SMTP_CONF_TOKENS_MAX];
    int count = 0;
    SplitConfLine(buffer, &count, tokens, SMTP_CONF_TOKENS_MAX);

    SmtpEmailSettings settings;
    std::string password;
    std::string* texts[] = {&settings.server, &settings.port, &settings.user, &password, &settings.recipient};
    int* numbers[] = {&settings.period, &settings.phase, &settings.shift};
    for (int i = 0; i < count && i < 5; ++i) *texts[i] = tokens[i];
    for (int i = 5; i < count && i < 8; ++i) *numbers[i - 5] = ConfNumber(tokens[i]);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        settings_ = settings;
        password_ = password;
    }
    if (count < 8) {
        Log_Warn("smtp_email::LoadConf:%s:data line has %d of 8 fields", path, count);
    }
    Log_Info("smtp_email::LoadConf:server %s port %s user %s recipient %s period %d phase %d shift %d",
             settings.server.c_str(), settings.port.c_str(), settings.user.c_str(), settings.recipient.c_str(),
             settings.period, settings.phase, settings.shift);
    return 0;
}

bool smtp_email::Stop(unsigned timeoutMs)
{
    PlatformThread* thread;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
        thread = thread_;
    }
    wake_.notify_all();
    if (!thread) return true;
    if (!Platform_JoinThreadWithin(thread, timeoutMs)) return false;
    std::lock_guard<std::mutex> guard(mutex_);
    thread_ = nullptr;
    return true;
}

SmtpEmailSettings smtp_email::Settings() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return settings_;
}

int smtp_email::Start()
{
    if (loaded_ != 1) return 1;
    if (mailer_) return 0;
    mailer_ = new SimpleSslSmtpEmail(settings_.server, settings_.port, timeoutMs_);
    bool ok = false;
    PlatformThread* thread = Platform_BeginThread(ThreadLoop, this, true, &ok);
    if (!ok) {
        Log_Error("smtp_email::Start:thread not started, no mail");
        return -1;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        thread_ = thread;
    }
    if (settings_.period <= 0) {
        Log_Warn("smtp_email::Start:period %d, no statistics mail; notices only", settings_.period);
    }
    return 0;
}

void smtp_email::SetStatistics(const char* text)
{
    std::lock_guard<std::mutex> guard(mutex_);
    statistics_ = text ? text : "";
}

void smtp_email::PostNotice(const char* text)
{
    if (!text || !*text) return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        size_t length = strlen(text);
        if (notice_.size() + length > SMTP_NOTICE_MAX) {
            ++droppedNotices_;
            return;
        }
        notice_ += text;
    }
    wake_.notify_one();
}

bool smtp_email::WaitFor(int64_t seconds)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return stopping_ || !notice_.empty(); };
    if (seconds < 0) {
        wake_.wait(lock, ready);
    } else if (seconds > 0) {
        // The wall clock: the schedule is one of instants since 1970.
        wake_.wait_until(lock, std::chrono::system_clock::now() + std::chrono::seconds(seconds), ready);
    }
    return !stopping_;
}

int64_t smtp_email::ScheduleWait(int64_t now, int period, int phase, int shift)
{
    if (period <= 0) return -1;
    int64_t r = (now + shift - phase) % period;
    if (r < 0) r += period;
    return r != 0 ? period - r : period;
}

int smtp_email::SendReport()
{
    if (!mailer_) return 1;
    std::string notice;
    std::string statistics;
    size_t dropped;
    SmtpEmailSettings settings;
    std::string password;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        notice = notice_;
        statistics = statistics_;
        dropped = droppedNotices_;
        droppedNotices_ = 0;
        settings = settings_;
        password = password_;
    }
    if (dropped) Log_Warn("smtp_email::SendReport:%zu notices dropped while mail was pending", dropped);

    const char* subject = notice.empty() ? SMTP_STATISTICS_SUBJECT : SMTP_NOTICE_SUBJECT;
    std::string body = notice + statistics;
    if (!body.empty()) {
        int result = mailer_->SendEmail(settings.user, password, settings.recipient, subject, body);
        if (result == 0) {
            Log_Info("smtp_email::SendReport:%s mailed to %s", notice.empty() ? "statistics" : "notice",
                     settings.recipient.c_str());
        } else {
            // A failed mail is dropped; the next one is tried at its time.
            Log_Error("smtp_email::SendReport:mail to %s via %s:%s failed (%d): %s", settings.recipient.c_str(),
                      settings.server.c_str(), settings.port.c_str(), result,
                      OneLine(mailer_->LastError()).c_str());
        }
    }
    // Notices posted during the send stay pending for the next mail.
    std::lock_guard<std::mutex> guard(mutex_);
    notice_.erase(0, notice.size());
    return 0;
}

unsigned smtp_email::ThreadLoop(void* notifier)
{
    smtp_email* self = static_cast<smtp_email*>(notifier);
    SmtpEmailSettings settings = self->Settings();
    for (;;) {
        int64_t wait = ScheduleWait(static_cast<int64_t>(time(nullptr)), settings.period, settings.phase,
                                    settings.shift);
        if (!self->WaitFor(wait)) return 0;
        // No exception may end this thread (or the process): a mail that
        // throws (out of memory) is dropped as a failed one is, with its
        // notices, so that it is not tried again at once.
        try {
            self->SendReport();
        } catch (const std::exception& e) {
            Log_Error("%s:mail failed: %s", "smtp_email::ThreadLoop", e.what());
            std::lock_guard<std::mutex> guard(self->mutex_);
            self->notice_.clear();
        }
    }
}
