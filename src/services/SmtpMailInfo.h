// The description of one mail as the SMTP client sends it.
#pragma once

#include <map>
#include <string>
#include <vector>

struct SmtpMailInfo {
    std::string charset;        // named in every encoded word and in the text part
    std::string senderName;     // shown encoded in From
    std::string senderAddress;  // AUTH PLAIN user, MAIL FROM and From address
    std::string password;       // AUTH PLAIN password; never logged
    std::string recipientAddress;  // the one RCPT TO of this connection
    std::map<std::string, std::string> to;  // address -> display name, in byte order of the address
    std::string subject;
    std::string body;                       // plain text
    std::map<std::string, std::string> cc;  // address -> display name; a Cc header when not empty
    std::vector<std::string> attachments;   // file paths
};
