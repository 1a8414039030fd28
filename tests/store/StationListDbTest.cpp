#include "store/StationListDb.h"

#include "platform/FileSystem.h"
#include "support/LogCapture.h"
#include "support/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using Names = std::vector<std::string>;

class StoreStationList : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = dir_.File("station.db");
        ASSERT_TRUE(CreateFromSchema(path_, "station.sql"));
        ASSERT_TRUE(db_.Open(path_.c_str()));
        ASSERT_EQ(db_.Exec("PRAGMA synchronous=OFF"), 0);  // keeps the tests fast
    }

    Names Black() const { return Rows(path_, "select station_name from station_blacklist"); }
    Names White() const { return Rows(path_, "select station_name from station_whitelist"); }

    LogCapture log_;
    TempDir dir_;
    std::string path_;
    StationListDb db_;
};

TEST(StoreStationListOpen, OpensOnlyAnExistingDatabaseAndNeverCreatesOne)
{
    LogCapture log;
    TempDir dir;
    StationListDb missing;
    EXPECT_FALSE(missing.Open(dir.File("station.db").c_str()));
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(Platform_PathExists(dir.File("station.db").c_str()));
    EXPECT_EQ(missing.Exec("select 1"), -1);
    EXPECT_FALSE(missing.AddBlack("A"));
    EXPECT_TRUE(log.Has("StationListDb::Open:cannot open"));

    ASSERT_TRUE(CreateFromSchema(dir.File("station.db"), "station.sql"));
    StationListDb byDir;
    EXPECT_TRUE(byDir.Open(dir.Path().c_str()));  // a folder means its station.db
    EXPECT_TRUE(byDir.Open("/no/such/file.db"));  // the first connection stays
    EXPECT_TRUE(byDir.AddBlack("A"));
    EXPECT_EQ(Rows(dir.File("station.db"), "select * from station_blacklist"), Names{"A"});
}

TEST_F(StoreStationList, AddTwiceStoresTwoAndDeleteRemovesAll)
{
    ASSERT_TRUE(db_.AddWhite("MP01"));
    ASSERT_TRUE(db_.AddWhite("MP01"));
    ASSERT_TRUE(db_.AddWhite("mp01"));
    EXPECT_EQ(White(), (Names{"MP01", "MP01", "mp01"}));
    EXPECT_EQ(db_.Whitelist(), (Names{"MP01", "MP01", "mp01"}));
    EXPECT_TRUE(db_.IsWhite("MP01"));
    EXPECT_FALSE(db_.IsWhite("MP0"));
    EXPECT_FALSE(db_.IsBlack("MP01"));

    ASSERT_TRUE(db_.DelWhite("MP01"));
    EXPECT_EQ(White(), Names{"mp01"});
    EXPECT_EQ(db_.Whitelist(), Names{"mp01"});

    // Deleting a name that has no row is no failure.
    EXPECT_TRUE(db_.DelWhite("absent"));
    EXPECT_TRUE(db_.DelBlack("absent"));
    EXPECT_EQ(db_.Whitelist(), Names{"mp01"});

    EXPECT_FALSE(db_.AddBlack(nullptr));
    EXPECT_FALSE(db_.DelBlack(nullptr));
    EXPECT_FALSE(db_.IsBlack(nullptr));
}

TEST_F(StoreStationList, HostileNamesNeverReachSqlAsCode)
{
    ASSERT_TRUE(db_.AddBlack("KEEP"));
    ASSERT_TRUE(db_.AddWhite("KEEP"));

    // A single quote: refused, nothing changes.
    const char* quoted[] = {"o'neil", "x'),('y", "' OR '1'='1", "'; DELETE FROM station_whitelist; --"};
    for (const char* name : quoted) {
        EXPECT_FALSE(db_.AddBlack(name)) << name;
        EXPECT_FALSE(db_.AddWhite(name)) << name;
        EXPECT_FALSE(db_.DelBlack(name)) << name;
        EXPECT_FALSE(db_.DelWhite(name)) << name;
        EXPECT_FALSE(db_.IsBlack(name)) << name;
    }
    EXPECT_EQ(Black(), Names{"KEEP"});
    EXPECT_EQ(White(), Names{"KEEP"});
    EXPECT_EQ(db_.Blacklist(), Names{"KEEP"});

    // No single quote: stored and deleted as the plain text it is.
    const std::string drop = "x\"); DROP TABLE station_blacklist; --";
    ASSERT_TRUE(db_.AddBlack(drop.c_str()));
    EXPECT_EQ(Tables(path_), (Names{"station_blacklist", "station_whitelist"}));
    EXPECT_EQ(Black(), (Names{"KEEP", drop}));
    EXPECT_TRUE(db_.IsBlack(drop.c_str()));
    ASSERT_TRUE(db_.DelBlack(drop.c_str()));
    EXPECT_EQ(Black(), Names{"KEEP"});
    EXPECT_EQ(db_.Blacklist(), Names{"KEEP"});
}

TEST_F(StoreStationList, InitListsLoadsBothListsInRowOrder)
{
    ASSERT_TRUE(RunSql(path_, "insert into station_blacklist values ('B2'), ('B1');"
                              "insert into station_whitelist values ('W1'), (NULL), ('W2');"));
    ASSERT_TRUE(db_.InitLists());
    EXPECT_EQ(db_.Blacklist(), (Names{"B2", "B1"}));
    EXPECT_EQ(db_.Whitelist(), (Names{"W1", "", "W2"}));  // a NULL cell is an empty name

    // A database without the white list fails and leaves empty lists.
    ASSERT_TRUE(RunSql(path_, "drop table station_whitelist"));
    EXPECT_FALSE(db_.InitLists());
    EXPECT_TRUE(db_.Whitelist().empty());
    EXPECT_TRUE(db_.Blacklist().empty());
    EXPECT_TRUE(log_.Has("Black and white list initialize error."));

    // An insert into a missing table fails and the list stays as it was.
    EXPECT_FALSE(db_.AddWhite("W3"));
    EXPECT_TRUE(db_.Whitelist().empty());
}

TEST_F(StoreStationList, ExecAndQueryReportEveryOutcome)
{
    EXPECT_EQ(db_.Exec("insert into station_blacklist values (?)", {"P"}), 0);
    EXPECT_EQ(db_.Exec("insert into no_such_table values (1)"), -2);
    EXPECT_EQ(db_.Exec("insert into station_blacklist values (?)"), -2);  // unbound parameter
    EXPECT_EQ(db_.Exec("select 1"), -3);                                   // a row is no "done"
    // A second statement is refused as a whole rather than run or dropped.
    EXPECT_EQ(db_.Exec("insert into station_blacklist values ('Q'); drop table station_whitelist"),
              -2);
    EXPECT_EQ(Black(), Names{"P"});
    EXPECT_EQ(Tables(path_), (Names{"station_blacklist", "station_whitelist"}));

    int rows = -1;
    int columns = -1;
    Names cells;
    EXPECT_EQ(db_.Query("select station_name, NULL, 7 from station_blacklist", &rows, &columns,
                        &cells),
              1);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(columns, 3);
    EXPECT_EQ(cells, (Names{"P", "", "7"}));
    cells.clear();
    EXPECT_EQ(db_.Query("select * from station_whitelist", &rows, &columns, &cells), 1);
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(db_.Query("select * from nothing", &rows, &columns, &cells), 0);
}

TEST_F(StoreStationList, InsertByExecWritesOnlyTheDatabaseAndReportsFailure)
{
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), "BLK1", 0), 0);
    EXPECT_EQ(StationListDb_InsertByExecAt(dir_.Path().c_str(), "WHT1", 1), 0);
    EXPECT_EQ(Black(), Names{"BLK1"});
    EXPECT_EQ(White(), Names{"WHT1"});
    EXPECT_TRUE(db_.Blacklist().empty());  // takes effect at the next start

    const std::string drop = "x\"); DROP TABLE station_blacklist; --";
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), drop.c_str(), 0), 0);
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), "x'),('y", 0), -2);
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), "' OR '1'='1", 1), -2);
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), "N", 2), -2);
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), nullptr, 0), -2);
    EXPECT_EQ(Black(), (Names{"BLK1", drop}));
    EXPECT_EQ(White(), Names{"WHT1"});

    TempDir empty;
    EXPECT_EQ(StationListDb_InsertByExecAt(empty.File("station.db").c_str(), "N", 0), -1);
    EXPECT_FALSE(Platform_PathExists(empty.File("station.db").c_str()));

    ASSERT_TRUE(RunSql(path_, "drop table station_whitelist"));
    EXPECT_EQ(StationListDb_InsertByExecAt(path_.c_str(), "N", 1), -2);
}

TEST_F(StoreStationList, ListsStayInStepWithTheTableUnderConcurrentEdits)
{
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            db_.IsWhite("S1");
            db_.Whitelist();
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                std::string name = "S" + std::to_string((t + i) % 3);
                if (i % 3 == 2) {
                    db_.DelWhite(name.c_str());
                } else {
                    db_.AddWhite(name.c_str());
                }
            }
        });
    }
    for (std::thread& w : writers) w.join();
    stop = true;
    reader.join();

    Names inTable = White();
    Names inMemory = db_.Whitelist();
    std::sort(inTable.begin(), inTable.end());
    std::sort(inMemory.begin(), inMemory.end());
    EXPECT_EQ(inMemory, inTable);
}

TEST(StoreStationListUsers, LoadersHandTheUserRowsOfEachTypeToTheirTable)
{
    LogCapture log;
    TempDir dir;
    std::string path = dir.File("user.db");
    ASSERT_TRUE(CreateFromSchema(path, "user.sql"));
    ASSERT_TRUE(RunSql(path,
        "insert into user_tb (type, name, password, expiredatetime, activation, activationperiod,"
        " firstonlinetime) values"
        " (1, 'admin', 'root', '2030/1/1 0:0:0', 0, 0, NULL),"
        " (2, 'MP01', 'basepw', NULL, 0, 0, NULL),"
        " (3, 'rover1', 'pw1', '2030/12/31 23:59:59', 1, 30, NULL),"
        " (3, 'rover2', NULL, NULL, NULL, NULL, '2024/5/6 7:8:9'),"
        " (4, 'other', 'x', NULL, 0, 0, NULL);"));
    StationListDb db;
    ASSERT_TRUE(db.Open(path.c_str()));

    std::vector<UserRecord> bases;
    ASSERT_TRUE(db.LoadBaseUsers([&](const UserRecord& u) { bases.push_back(u); }));
    ASSERT_EQ(bases.size(), 1u);
    EXPECT_EQ(bases[0].id, 2);
    EXPECT_STREQ(bases[0].name, "MP01");
    EXPECT_STREQ(bases[0].password, "basepw");

    std::vector<UserRecord> rovers;
    ASSERT_TRUE(db.LoadRoverUsers([&](const UserRecord& u) { rovers.push_back(u); }));
    ASSERT_EQ(rovers.size(), 2u);
    EXPECT_EQ(rovers[0].id, 3);
    EXPECT_STREQ(rovers[0].name, "rover1");
    EXPECT_STREQ(rovers[0].password, "pw1");
    EXPECT_STREQ(rovers[0].expiredatetime, "2030/12/31 23:59:59");
    EXPECT_EQ(rovers[0].activation, 1);
    EXPECT_EQ(rovers[0].activationperiod, 30);
    EXPECT_STREQ(rovers[0].firstonlinetime, "");  // NULL: not yet logged in
    EXPECT_STREQ(rovers[1].password, "");
    EXPECT_STREQ(rovers[1].expiredatetime, "");
    EXPECT_EQ(rovers[1].activation, 0);
    EXPECT_STREQ(rovers[1].firstonlinetime, "2024/5/6 7:8:9");

    StationListDb noTable;
    TempDir other;
    ASSERT_TRUE(RunSql(other.File("user.db"), "create table t (a)"));
    ASSERT_TRUE(noTable.Open(other.File("user.db").c_str()));
    EXPECT_FALSE(noTable.LoadBaseUsers([](const UserRecord&) {}));
    EXPECT_FALSE(noTable.LoadRoverUsers([](const UserRecord&) {}));
}

}  // namespace
