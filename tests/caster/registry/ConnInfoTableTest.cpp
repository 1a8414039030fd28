#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

TEST(ConnInfoTable, AddFindRemove)
{
    std::unique_ptr<ConnInfoTable> t(ConnInfoTable::Create());
    ConnInfoTable::Guard guard;
    ConnInfo c;
    memset(&c, 0, sizeof c);
    c.channelID = 7;
    c.port = 5000;
    memset(c.ip, '9', sizeof c.ip);  // no terminator from the caller
    EXPECT_FALSE(t->Add(nullptr));
    EXPECT_TRUE(t->Add(&c));
    c.port = 1;
    EXPECT_FALSE(t->Add(&c)) << "a present channel is refused";
    ConnInfo* stored = t->Find(7);
    ASSERT_NE(nullptr, stored);
    EXPECT_EQ(5000, stored->port) << "the stored copy is untouched by the refused add";
    EXPECT_EQ(static_cast<size_t>(CONN_IP_SIZE - 1), strlen(stored->ip));
    EXPECT_NE(&c, stored) << "the table keeps its own copy";
    EXPECT_TRUE(t->Contains(7));
    EXPECT_FALSE(t->Contains(8));
    EXPECT_EQ(1, t->Count());
    EXPECT_FALSE(t->Remove(8));
    EXPECT_TRUE(t->Remove(7));
    EXPECT_FALSE(t->Contains(7));
    EXPECT_EQ(nullptr, t->Find(7));
    EXPECT_EQ(0, t->Count());
}

TEST(ConnInfoTable, GrowsAndKeepsEveryRecord)
{
    std::unique_ptr<ConnInfoTable> t(ConnInfoTable::Create());
    ConnInfoTable::Guard guard;
    ConnInfo c;
    memset(&c, 0, sizeof c);
    for (uint64_t ch = 1; ch <= 500; ++ch) {
        c.channelID = ch * 1073741824ULL + ch;  // keys that fold onto small ones
        c.port = static_cast<int32_t>(ch);
        ASSERT_TRUE(t->Add(&c));
    }
    for (uint64_t ch = 1; ch <= 500; ++ch) {
        ConnInfo* r = t->Find(ch * 1073741824ULL + ch);
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(static_cast<int32_t>(ch), r->port);
    }
    int seen = 0;
    t->ForEach([&](ConnInfo* r) {
        if (r->port % 2 == 0) t->Remove(r->channelID);
        ++seen;
    });
    EXPECT_EQ(500, seen);
    EXPECT_EQ(250, t->Count());
}

namespace {
struct Shared {
    ConnInfoTable* conns;
    BaseTable* bases;
    RoverTable* rovers;
    uint64_t firstChannel;
};

unsigned Churn(void* arg)
{
    Shared* s = static_cast<Shared*>(arg);
    for (uint64_t i = 0; i < 2000; ++i) {
        uint64_t ch = s->firstChannel + i;
        // The caster's order: connection, base, rover; released in reverse.
        RegistriesGuard locks;
        ConnInfo c;
        memset(&c, 0, sizeof c);
        c.channelID = ch;
        s->conns->Add(&c);
        RoverRecord r;
        memset(&r, 0, sizeof r);
        r.channelID = ch;
        s->rovers->Add(&r);
        if (i % 3 == 0) {
            s->rovers->Remove(ch);
            s->conns->Remove(ch);
        }
    }
    return 0;
}
}  // namespace

TEST(RegistryLocks, ThreadsTakingTheOrderKeepTheTablesWhole)
{
    std::unique_ptr<ConnInfoTable> conns(ConnInfoTable::Create());
    std::unique_ptr<BaseTable> bases(BaseTable::Create());
    std::unique_ptr<RoverTable> rovers(RoverTable::Create());
    std::vector<Shared> shares;
    for (int i = 0; i < 4; ++i) shares.push_back(Shared{conns.get(), bases.get(), rovers.get(), 1 + i * 100000ULL});
    std::vector<PlatformThread*> threads;
    for (Shared& s : shares) {
        bool ok = false;
        threads.push_back(Platform_BeginThread(Churn, &s, true, &ok));
        ASSERT_TRUE(ok);
    }
    for (PlatformThread* th : threads) Platform_JoinThread(th);
    ConnInfoTable::Guard connLock;
    RoverTable::Guard roverLock;
    RoverTable::Guard again;  // re-entrant
    EXPECT_EQ(4 * (2000 - 667), conns->Count());
    EXPECT_EQ(4 * (2000 - 667), rovers->Count());
}
