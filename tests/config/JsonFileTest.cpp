#include "config/AtomicFile.h"
#include "config/JsonFile.h"

#include "config/ConfigTestSupport.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace {

std::string Printed(const cJSON* json)
{
    std::string text;
    EXPECT_TRUE(JsonPrintConfig(json, &text));
    return text;
}

// Each refusal says why, to follow the file's name in a line for the
// operator: where the parse stopped, counted from 1 after a byte-order mark,
// and not the text there, which may hold a secret.
TEST(ConfigJsonFile, LoadRefusesWhatIsNotOneWholeJsonValue)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        std::string problem;
    };
    const Case cases[] = {
        {"empty", "", "is not valid JSON (the file is empty)"},
        {"broken", "{\"a\": ", "is not valid JSON (parse error at line 1, column 7, at the end of the text)"},
        {"broken on a later line", "\xEF\xBB\xBF{\n  \"a\": 1,\n  \"b\" 2\n}",
         "is not valid JSON (parse error at line 3, column 7)"},
        {"trailing text", "{\"a\": 1} {\"b\": 2}", "is not valid JSON (parse error at line 1, column 10)"},
        {"embedded NUL", std::string("{\"a\": 1}\0{}", 11), "is not valid JSON (a NUL byte at line 1, column 9)"},
        {"bytes other than ASCII where it stops", "{\"a\": \xC3\xA9}", "is not valid JSON (parse error at line 1, column 7)"},
    };
    for (const Case& c : cases) {
        std::string path = dir.File("f.json");
        ASSERT_TRUE(WriteFile(path, c.content));
        std::string problem;
        cJSON* json = LoadJsonFile(path.c_str(), &problem);
        EXPECT_EQ(json, nullptr) << c.name;
        EXPECT_EQ(problem, c.problem) << c.name;
        cJSON_Delete(json);
    }
    std::string problem;
    EXPECT_EQ(LoadJsonFile(dir.File("missing.json").c_str(), &problem), nullptr);
    EXPECT_EQ(problem, "is missing");
    EXPECT_EQ(LoadJsonFile(dir.Path().c_str(), &problem), nullptr);
    EXPECT_EQ(problem, "is unreadable (Is a directory)");
    EXPECT_EQ(LoadJsonFile(nullptr), nullptr);
}

TEST(ConfigJsonFile, LoadTakesTheWholeFileAndSkipsAByteOrderMark)
{
    TempDir dir;
    // Far beyond any fixed read buffer: the key sits at the very end.
    std::string big = "\xEF\xBB\xBF{\"pad\": \"" + std::string(70000, 'x') + "\", \"last\": 7}\r\n";
    std::string path = dir.File("big.json");
    ASSERT_TRUE(WriteFile(path, big));
    cJSON* json = LoadJsonFile(path.c_str());
    ASSERT_NE(json, nullptr);
    cJSON* last = cJSON_GetObjectItemCaseSensitive(json, "last");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->valueint, 7);
    cJSON_Delete(json);
}

TEST(ConfigJsonFile, NonIntegralNumbersPrintWithTwelveDecimals)
{
    cJSON* json = cJSON_Parse("{\"a\": 1.5, \"b\": 3, \"c\": [-0.25, 2], \"d\": {\"e\": 1e-3}, "
                              "\"f\": 3000000000}");
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(Printed(json),
              "{\n\t\"a\":\t1.500000000000,\n\t\"b\":\t3,\n\t\"c\":\t[-0.250000000000, 2],\n"
              "\t\"d\":\t{\n\t\t\"e\":\t0.001000000000\n\t},\n\t\"f\":\t3000000000\n}");
    // Printing works on a copy: the caller's tree keeps its numbers.
    EXPECT_TRUE(cJSON_IsNumber(cJSON_GetObjectItemCaseSensitive(json, "a")));
    cJSON_Delete(json);

    cJSON* number = cJSON_CreateNumber(0.5);
    EXPECT_EQ(Printed(number), "0.500000000000");
    cJSON_Delete(number);
}

TEST(ConfigJsonFile, SetItemsUpdateInPlaceAddMissingKeysAndCutTexts)
{
    cJSON* json = cJSON_Parse("{\"port\": 1, \"ip\": \"old\", \"n\": \"text\", \"other\": true}");
    ASSERT_NE(json, nullptr);
    JsonSetNumberItem(json, "port", 6089);
    JsonSetNumberItem(json, "n", 5);       // a string under a number key is replaced
    JsonSetNumberItem(json, "added", 9);
    JsonSetStringItem(json, "ip", "0123456789abcdef", 10);
    JsonSetStringItem(json, "url", "http://x", 200);
    EXPECT_EQ(Printed(json), "{\n\t\"port\":\t6089,\n\t\"ip\":\t\"0123456789\",\n\t\"n\":\t5,\n"
                             "\t\"other\":\ttrue,\n\t\"added\":\t9,\n\t\"url\":\t\"http://x\"\n}");
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(json, "port")->valuedouble, 6089.0);
    cJSON_Delete(json);
}

TEST(ConfigAtomicFile, ReplacesTheFileAndKeepsItsPermissions)
{
    TempDir dir;
    std::string path = dir.File("c.json");
    ASSERT_TRUE(WriteFile(path, "old"));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    ASSERT_TRUE(AtomicFile_Write(path.c_str(), "new text", 8));
    EXPECT_EQ(ReadFile(path), "new text");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ListDir(dir.Path()).size(), 1u);

    std::string fresh = dir.File("fresh.json");
    ASSERT_TRUE(AtomicFile_Write(fresh.c_str(), "", 0));
    EXPECT_EQ(ReadFile(fresh), "");
}

TEST(ConfigAtomicFile, AFailedWriteLeavesTheOldFileWholeAndNoTemporaryFile)
{
    LogCapture log;
    TempDir dir;
    std::string path = dir.File("c.json");
    const std::string old = "{\"keep\": 1}";
    ASSERT_TRUE(WriteFile(path, old));

    bool written = true;
    {
        FileSizeLimit limit(16);  // as on a full disk
        std::string text(4096, 'y');
        written = AtomicFile_Write(path.c_str(), text.data(), text.size());
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(ListDir(dir.Path()), std::vector<std::string>{"c.json"});

    EXPECT_FALSE(AtomicFile_Write(dir.File("no/such/dir/c.json").c_str(), "x", 1));
    EXPECT_TRUE(log.Has("AtomicFile_Write:"));
}

TEST(ConfigAtomicFile, ReadAllRefusesFilesOverTheLimit)
{
    TempDir dir;
    std::string path = dir.File("f");
    ASSERT_TRUE(WriteFile(path, std::string(100, 'a')));
    size_t len = 0;
    char* text = AtomicFile_ReadAll(path.c_str(), 100, &len);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(len, 100u);
    EXPECT_EQ(text[100], '\0');
    free(text);
    errno = 0;
    EXPECT_EQ(AtomicFile_ReadAll(path.c_str(), 99, &len), nullptr);
    EXPECT_EQ(errno, EFBIG);
}

}  // namespace
