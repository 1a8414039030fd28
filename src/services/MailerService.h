// The mail notifier as the executable hands it to the caster (through the
// caster's hooks table): one notifier for the life of the process.
#pragma once

class smtp_email;

// A notifier configured by the file at confPath; loaded and started when the
// file can be opened, else it only keeps the texts it is given.
smtp_email* MailerService_Create(const char* confPath);
void MailerService_SetStatistics(smtp_email* mailer, const char* text);
void MailerService_PostNotice(smtp_email* mailer, const char* text);
// The orderly exit: ends the notifier's thread, waiting at most timeoutMs
// (smtp_email::Stop). True without a notifier.
bool MailerService_Stop(smtp_email* mailer, unsigned timeoutMs);
