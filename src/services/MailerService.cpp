#include "services/MailerService.h"

#include "services/MailNotifier.h"

#include <new>

smtp_email* MailerService_Create(const char* confPath)
{
    smtp_email* mailer = new (std::nothrow) smtp_email();
    if (!mailer) return nullptr;
    mailer->LoadConf(confPath);
    mailer->Start();
    return mailer;
}

void MailerService_SetStatistics(smtp_email* mailer, const char* text)
{
    if (mailer) mailer->SetStatistics(text);
}

void MailerService_PostNotice(smtp_email* mailer, const char* text)
{
    if (mailer) mailer->PostNotice(text);
}

bool MailerService_Stop(smtp_email* mailer, unsigned timeoutMs) { return !mailer || mailer->Stop(timeoutMs); }
