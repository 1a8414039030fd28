// The MIME text of one mail: encoded-word headers, a mixed part holding an
// alternative part with the Base64 text, then the attachments.
#include "services/SmtpEmail.h"

#include "services/SmtpContentTypes.h"
#include "services/SmtpHelpers.h"
#include "runtime/Log.h"

namespace {

const char* const MIXED_BOUNDARY = "Separator_mjr_000";
const char* const ALTERNATIVE_BOUNDARY = "Separator_mjr_111";

std::string EncodedWord(const std::string& charset, const std::string& text)
{
    return "=?" + charset + "?b?" + Base64Encode(text) + "?=";
}

std::string AddressList(const std::string& charset, const std::map<std::string, std::string>& entries)
{
    std::vector<std::string> items;
    for (const auto& entry : entries) items.push_back(EncodedWord(charset, entry.second) + " <" + entry.first + ">");
    return JoinStrings(items, ",");
}

// Base64 lines never start with '.', so the body needs no dot-stuffing.
std::string AttachmentPart(const std::string& path)
{
    std::string bytes = ReadFileToString(path);
    if (bytes.empty()) {
        Log_Warn("请检查传入的文件路径是否正确,此路径文件添加到附件失败，不发送此文件:%s", path.c_str());
        return std::string();
    }
    std::string name = GetFileNameFromPath(path);
    std::string type = GetContentTypeByExt(GetFileExtension(name));
    std::string part;
    part += std::string("--") + MIXED_BOUNDARY + "\r\n";
    part += "Content-Type: " + type + "; name=\"" + name + "\"\r\n";
    part += "Content-Transfer-Encoding: base64\r\n";
    part += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n";
    part += Base64Encode(bytes);
    part += "\r\n\r\n";
    return part;
}

}  // namespace

std::string SmtpEmail::BuildMessage(const SmtpMailInfo& mail)
{
    const std::string& charset = mail.charset;
    std::string text;
    text += "From: " + EncodedWord(charset, mail.senderName) + " <" + mail.senderAddress + ">\r\n";
    text += "To: " + AddressList(charset, mail.to) + "\r\n";
    text += "Subject: " + EncodedWord(charset, mail.subject) + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    if (!mail.cc.empty()) text += "Cc:" + AddressList(charset, mail.cc) + "\r\n";
    text += std::string("Content-Type:multipart/mixed; boundary=\"") + MIXED_BOUNDARY + "\"\r\n\r\n";

    text += std::string("--") + MIXED_BOUNDARY + "\r\n";
    text += std::string("Content-Type: multipart/alternative; boundary=\"") + ALTERNATIVE_BOUNDARY + "\"\r\n\r\n";
    text += std::string("--") + ALTERNATIVE_BOUNDARY + "\r\n";
    text += "Content-Type: text/plain; charset=\"" + charset + "\"\r\n";
    text += "Content-Transfer-Encoding: base64\r\n";
    text += "\r\n";
    text += Base64Encode(mail.body);
    text += "\r\n\r\n";
    text += std::string("--") + ALTERNATIVE_BOUNDARY + "--\r\n";

    for (const std::string& path : mail.attachments) text += AttachmentPart(path);

    text += std::string("--") + MIXED_BOUNDARY + "--\r\n";
    text += "\r\n.\r\n";
    return text;
}
