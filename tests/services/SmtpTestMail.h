// One mail and its exact text: sender ops@example.com (password "secret"),
// recipient boss@example.com, the notice subject and "Vorlane is runing\n".
#pragma once

#include <string>

inline const char* const MAIL_HEADER =
    "From: =?UTF-8?b?b3BzQGV4YW1wbGUuY29t?= <ops@example.com>\r\n"
    "To: =?UTF-8?b?\?= <boss@example.com>\r\n"
    "Subject: =?UTF-8?b?57O757uf5o+Q56S65L+h5oGv?=\r\n"
    "MIME-Version: 1.0\r\n";

inline const char* const MAIL_TEXT_PART =
    "--Separator_mjr_000\r\n"
    "Content-Type: multipart/alternative; boundary=\"Separator_mjr_111\"\r\n\r\n"
    "--Separator_mjr_111\r\n"
    "Content-Type: text/plain; charset=\"UTF-8\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "Vm9ybGFuZSBpcyBydW5pbmcK\r\n\r\n"
    "--Separator_mjr_111--\r\n";

inline const char* const MAIL_MIXED_HEADER = "Content-Type:multipart/mixed; boundary=\"Separator_mjr_000\"\r\n\r\n";
inline const char* const MAIL_END = "--Separator_mjr_000--\r\n\r\n.\r\n";

// The whole message SmtpEmail::SendEmail builds for that mail.
inline std::string SmtpTestMail_Message()
{
    return std::string(MAIL_HEADER) + MAIL_MIXED_HEADER + MAIL_TEXT_PART + MAIL_END;
}
