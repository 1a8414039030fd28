#include "decoding/NtripDecoding/SourceTable.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

using namespace NtripDecoding;

namespace {

std::string Text(CommonDataChain* chain)
{
    std::string s;
    for (CommonDataChain* b = chain; b; b = b->next) s.append(reinterpret_cast<char*>(b->data), b->len);
    CommonDataChain_Free(chain);
    return s;
}

std::string Str(const std::string& name)
{
    return "STR;" + name + ";" + name + ";" + name +
           ";1(1),3(10),18(1),19(1);2;GNSS;RVZ;CHN;0.00;0.00;1;1;RVZ;none;B;N;9600;\r\n";
}

// Checks the whole table around the expected body.
void ExpectTable(const std::string& table, const std::string& body)
{
    size_t headEnd = table.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, headEnd) << table;
    std::string head = table.substr(0, headEnd + 4);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(head, m,
                                 std::regex("SOURCETABLE 200 OK\r\nServer: RVZ_v0\\.8/2016\r\n"
                                            "Date: \\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\r\n"
                                            "Content-Type: text/plain\r\nContent-Length: (\\d+)\r\n\r\n")))
        << head;
    EXPECT_EQ(std::to_string(body.size()), m[1].str());
    EXPECT_EQ(body + "ENDSOURCETABLE\r\n\r\n", table.substr(head.size()));
}

}  // namespace

TEST(SourceTable, ListsTheNamesAndNearestWithTheirLength)
{
    const char* names[] = {"MNT1", "MNT2"};
    ExpectTable(Text(MakeSourceTableWith(names, 2, true)), Str("MNT1") + Str("MNT2") + Str("NEAREST"));
    ExpectTable(Text(MakeSourceTableWith(names, 2, false)), Str("MNT1") + Str("MNT2"));
    ExpectTable(Text(MakeSourceTableWith(nullptr, 0, false)), "");
    ExpectTable(Text(MakeSourceTableWith(nullptr, 0, true)), Str("NEAREST"));
}

TEST(SourceTable, ManyAndLongNamesSpanSeveralBlocks)
{
    std::vector<std::string> store;
    for (int i = 0; i < 1000; ++i) store.push_back("BASE" + std::to_string(i) + std::string(90, 'x'));
    store.push_back(std::string(400, 'L'));
    std::vector<const char*> names;
    std::string body;
    for (const std::string& s : store) {
        names.push_back(s.c_str());
        body += Str(s);
    }
    names.push_back(nullptr);  // a gap in the list is skipped
    ExpectTable(Text(MakeSourceTableWith(names.data(), static_cast<int>(names.size()), false)), body);
}
