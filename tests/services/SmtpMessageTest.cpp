// The mail's MIME text and the helpers it is built from.
#include "services/SmtpContentTypes.h"
#include "services/SmtpEmail.h"
#include "services/SmtpHelpers.h"
#include "SmtpTestMail.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

SmtpMailInfo OneRecipientMail()
{
    SmtpMailInfo mail;
    mail.charset = "UTF-8";
    mail.senderName = "ops@example.com";
    mail.senderAddress = "ops@example.com";
    mail.password = "secret";
    mail.recipientAddress = "boss@example.com";
    mail.to["boss@example.com"] = "";
    mail.subject = "系统提示信息";
    mail.body = "Vorlane is runing\n";
    return mail;
}

TEST(SmtpMessage, WithoutAttachmentsHoldsTheTextInBothParts)
{
    SmtpEmail client("localhost", "465");
    EXPECT_EQ(SmtpTestMail_Message(), client.BuildMessage(OneRecipientMail()));
}

TEST(SmtpMessage, CopiesAndAttachmentsFollowInOrderAndUnreadableFilesAreLeftOut)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.File("report.pdf"), "attached bytes\n"));
    ASSERT_TRUE(WriteFile(dir.File("empty.txt"), ""));
    SmtpMailInfo mail = OneRecipientMail();
    mail.to["ops@example.com"] = "hello, world";
    mail.cc["boss@example.com"] = "";
    mail.attachments = {dir.File("missing.csv"), dir.File("report.pdf"), dir.File("empty.txt")};

    std::string expected =
        "From: =?UTF-8?b?b3BzQGV4YW1wbGUuY29t?= <ops@example.com>\r\n"
        "To: =?UTF-8?b?\?= <boss@example.com>,=?UTF-8?b?aGVsbG8sIHdvcmxk?= <ops@example.com>\r\n"
        "Subject: =?UTF-8?b?57O757uf5o+Q56S65L+h5oGv?=\r\n"
        "MIME-Version: 1.0\r\n"
        "Cc:=?UTF-8?b?\?= <boss@example.com>\r\n";
    expected += std::string(MAIL_MIXED_HEADER) + MAIL_TEXT_PART;
    expected +=
        "--Separator_mjr_000\r\n"
        "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n"
        "YXR0YWNoZWQgYnl0ZXMK\r\n\r\n";
    expected += MAIL_END;
    SmtpEmail client("localhost", "465");
    EXPECT_EQ(expected, client.BuildMessage(mail));
}

TEST(SmtpHelpers, Base64IsStandardWithPaddingAndNoLineBreaks)
{
    struct Case {
        std::string in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {std::string("\0ops@example.com\0", 17), "AG9wc0BleGFtcGxlLmNvbQA="},
        {std::string("\xfb\xff\xbf", 3), "+/+/"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.out, Base64Encode(c.in)) << c.out;
    std::string longText(100000, 'x');
    std::string encoded = Base64Encode(longText);
    EXPECT_EQ(4u * ((longText.size() + 2) / 3), encoded.size());
    EXPECT_EQ(std::string::npos, encoded.find('\n'));
}

TEST(SmtpHelpers, PathsNamesAndExtensions)
{
    EXPECT_EQ("report.pdf", GetFileNameFromPath("C:\\logs\\daily\\report.pdf"));
    EXPECT_EQ("report.pdf", GetFileNameFromPath("/var/log/report.pdf"));
    EXPECT_EQ("report.pdf", GetFileNameFromPath("report.pdf"));
    EXPECT_EQ("gz", GetFileExtension("backup.tar.gz"));
    EXPECT_EQ("", GetFileExtension("README"));
    EXPECT_EQ("", JoinStrings({}, ","));
    EXPECT_EQ("a,b,c", JoinStrings({"a", "b", "c"}, ","));
}

TEST(SmtpHelpers, ContentTypeLookupIsExactAndFallsBackToOctetStream)
{
    struct Case {
        const char* extension;
        const char* type;
    } cases[] = {
        {"pdf", "application/pdf"},
        {"PDF", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"c", "text/plain"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"ods", "application/x-vnd.oasis.opendocument.spreadsheet"},
        {"jfif", "image/jpeg"},
        {"3g2", "video/3gpp2"},
        {"flv", "video/x-flv"},
        {"exe", "application/octet-stream"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.type, GetContentTypeByExt(c.extension)) << c.extension;
}

TEST(SmtpHelpers, ReadFileToStringGivesTheBytesOrNothing)
{
    TempDir dir;
    std::string bytes("a\0b\r\nc", 6);
    ASSERT_TRUE(WriteFile(dir.File("f.bin"), bytes));
    EXPECT_EQ(bytes, ReadFileToString(dir.File("f.bin")));
    EXPECT_EQ("", ReadFileToString(dir.File("none")));
}

}  // namespace
