// The source table: for no base, for two bases, for a rover that names an
// offline mount, through curl, narrowed by the requester's position, and
// whole for a slow reader.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/ToolPeers.h"
#include "support/Files.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

namespace {

using namespace NtripTexts;
using RawPeers::FetchSourceTable;
using RawPeers::LoginBase;
using RawPeers::LoginRover;

// The base names of a received table's STR lines, in their order, without
// the final "NEAREST".
std::vector<std::string> ListedBases(const std::string& table)
{
    std::vector<std::string> names;
    for (size_t at = table.find("\r\nSTR;"); at != std::string::npos; at = table.find("\r\nSTR;", at + 1)) {
        size_t start = at + 6;
        size_t end = table.find(';', start);
        if (end == std::string::npos) break;
        names.push_back(table.substr(start, end - start));
    }
    if (!names.empty() && names.back() == "NEAREST") names.pop_back();
    return names;
}

// The table must be exactly the table of these bases (in whatever order the
// caster lists them), save the Date value.
void ExpectTableOf(const std::string& table, std::vector<std::string> bases)
{
    std::string date = TableDate(table);
    EXPECT_TRUE(IsTableDate(date)) << "Date: " << Printable(date);
    std::vector<std::string> order = ListedBases(table);
    std::vector<std::string> sortedOrder = order;
    std::sort(sortedOrder.begin(), sortedOrder.end());
    std::sort(bases.begin(), bases.end());
    EXPECT_EQ(sortedOrder, bases);
    EXPECT_EQ(table, SourceTable(order, date)) << Printable(table, 2000);
}

class BlackboxSourceTable : public CasterTest {};

TEST_F(BlackboxSourceTable, NoBaseOnlineListsOnlyNearestAndCloses)
{
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    bool closed = false;
    std::string table = FetchSourceTable(Port(), "", &closed);
    ExpectTableOf(table, {});
    EXPECT_TRUE(closed) << "the connection must be closed after the table";
}

TEST_F(BlackboxSourceTable, TwoBasesOnlineAreBothListed)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT2", "Base-Pw-2"));
    TestClient one, two;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&one, "MNT1", "Base-Pw-1"));
    ASSERT_TRUE(LoginBase(&two, Port(), "MNT2", "Base-Pw-2"));

    bool closed = false;
    std::string table = FetchSourceTable(Port(), "", &closed);
    ExpectTableOf(table, {"MNT1", "MNT2"});
    EXPECT_TRUE(closed);

}

// A rover that names a mount with no base gets the table of the online bases
// instead of a reply, and may ask again on the same connection.
TEST_F(BlackboxSourceTable, RoverNamingAnOfflineMountGetsTheTableAndMayAskAgain)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));

    TestClient rover;
    ASSERT_TRUE(rover.Connect(Port()));
    ASSERT_TRUE(rover.Send(GetRequest("MNT9", "alice", "Alice-Pw-731")));
    std::string table = rover.ReadUntil(kTableEnd, RawPeers::kReplyMs);
    ExpectTableOf(table, {"MNT1"});
    std::string extra;
    ASSERT_TRUE(RawPeers::StaysQuiet(&rover, 300, &extra)) << Printable(extra);

    ASSERT_TRUE(rover.Send(GetRequest("MNT1", "alice", "Alice-Pw-731")));
    std::string reply = rover.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs);
    EXPECT_EQ(reply, kIcyOk) << Printable(reply);
}

TEST_F(BlackboxSourceTable, CurlReadsTheTable)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));

    const std::string out = vorlane.File("curl-table.txt");
    ExitStatus status = ToolPeers::RunCurlSourceTable(vorlane.Dir(), Port(), out, 5000);
    EXPECT_TRUE(status.Success()) << "curl: " << status.Describe() << "\n" << ReadFile(vorlane.File("curl.err"));
    ExpectTableOf(ReadFile(out), {"MNT1"});
}

// "Ntrip-GGA:" narrows the table to the bases within 100 km of the
// requester; with none that near, every online base is listed.
TEST_F(BlackboxSourceTable, RequesterPositionNarrowsTheTableToBasesWithin100km)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    struct Station {
        const char* mount;
        double latitude, longitude;
    };
    const Station stations[] = {{"NEAR1", 30.0, 114.0}, {"NEAR2", 30.5, 114.0}, {"FAR1", 40.0, 116.0}};
    std::vector<std::unique_ptr<TestClient>> bases;
    for (const Station& s : stations) {
        bases.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(LoginBase(bases.back().get(), Port(), s.mount, "any"));
        ASSERT_TRUE(bases.back()->Send(GnssFrames::Rtcm1005(7, s.latitude, s.longitude, 30.0) +
                                       GnssFrames::RtcmFiller(1074, 120, 3)));
    }

    // 22 km from NEAR1, 33 km from NEAR2, over 1000 km from FAR1.
    const std::string nearby = GnssFrames::Gga(30.2, 114.0, 40.0);
    std::string table;
    for (int i = 0; i < 60; ++i) {
        table = FetchSourceTable(Port(), nearby);
        if (ListedBases(table).size() == 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ExpectTableOf(table, {"NEAR1", "NEAR2"});

    ExpectTableOf(FetchSourceTable(Port(), GnssFrames::Gga(-33.0, 151.0, 10.0)), {"NEAR1", "NEAR2", "FAR1"});
}

// A table of hundreds of bases, far more than one read, reaches a reader
// that is slow to take it whole, then the connection is closed.
TEST_F(BlackboxSourceTable, LargeTableReachesASlowReaderWhole)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    const int kBases = 300;
    std::vector<std::string> names;
    std::vector<std::unique_ptr<TestClient>> bases;
    for (int i = 0; i < kBases; ++i) {
        char name[32];
        snprintf(name, sizeof(name), "LARGE_TABLE_BASE_%03d", i);
        names.push_back(name);
        bases.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(LoginBase(bases.back().get(), Port(), name, "any")) << name;
    }

    TestClient reader;
    ASSERT_TRUE(reader.Open(2048));
    ASSERT_TRUE(reader.Connect(Port()));
    ASSERT_TRUE(reader.Send(SourceTableRequest()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    bool closed = false;
    std::string table = reader.ReadUntilEof(5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_GT(table.size(), size_t(30000));
    ExpectTableOf(table, names);
}

}  // namespace
