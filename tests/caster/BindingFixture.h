// Registries, configuration and a network server that never runs, for the
// binding, offline, logout and timer code: what that code posts stays in the
// server's command queue, where a test reads it in order.
#pragma once

#include "caster/binding/NearestBinding.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "config/ConfigRecords.h"
#include "net/NHServerTesting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

// One posted command: kind, target (or publisher) and subscriber.
struct Posted {
    int kind;
    uint64_t channel;
    uint64_t subscriber;
    bool operator==(const Posted& o) const
    {
        return kind == o.kind && channel == o.channel && subscriber == o.subscriber;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Posted& p)
{
    static const char* const names[] = {"?",           "CLOSE",     "SEND",      "ADD_PUB", "REMOVE_PUB",
                                        "SUB",         "UNSUB",     "BROADCAST", "SHUTDOWN", "CLOSE_FLUSH"};
    const char* name = p.kind >= 0 && p.kind <= 9 ? names[p.kind] : "?";
    return out << name << "(" << p.channel << "," << p.subscriber << ")";
}

inline Posted Sub(uint64_t base, uint64_t rover) { return {DECODING_EVENT_SUBSCRIBE, base, rover}; }
inline Posted Unsub(uint64_t base, uint64_t rover) { return {DECODING_EVENT_UNSUBSCRIBE, base, rover}; }
inline Posted Close(uint64_t channel) { return {DECODING_EVENT_CLOSE, channel, 0}; }
inline Posted RemovePub(uint64_t base) { return {DECODING_EVENT_REMOVE_PUBLISHER, base, 0}; }

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = NHServer_Create(nullptr);
        conns.reset(ConnInfoTable::Create());
        bases.reset(BaseTable::Create());
        rovers.reset(RoverTable::Create());
        memset(&config, 0, sizeof config);
        config.rover_distance_limit = 5000;
        config.base_offline_time = 10;
        config.broadcast_nearest = 1;
        scope.server = server;
        scope.conns = conns.get();
        scope.bases = bases.get();
        scope.rovers = rovers.get();
        // Not owned: a test changes config in place between its steps.
        scope.config = std::shared_ptr<const NtripServerConfig>(std::shared_ptr<void>(), &config);
        locks.reset(new RegistriesGuard);
    }
    void TearDown() override
    {
        locks.reset();
        NHServer_Free(server);
    }

    BaseRecord* AddBase(const char* mount, uint64_t channel, double lat, double lon)
    {
        BaseRecord b;
        memset(&b, 0, sizeof b);
        snprintf(b.mountPoint, sizeof b.mountPoint, "%s", mount);
        b.channelID = channel;
        b.state = BASE_STATE_ONLINE;
        b.latitude = lat;
        b.longitude = lon;
        EXPECT_TRUE(bases->Add(&b));
        return bases->Find(channel);
    }

    // A rover as rover login leaves it: a named rover subscribed to its base.
    RoverRecord* AddRover(const char* user, const char* mount, uint64_t channel, int mode)
    {
        RoverRecord r;
        memset(&r, 0, sizeof r);
        snprintf(r.userName, sizeof r.userName, "%s", user);
        snprintf(r.userKey, sizeof r.userKey, "%s", user);
        snprintf(r.mountPoint, sizeof r.mountPoint, "%s", mount);
        r.channelID = channel;
        r.bindingMode = mode;
        r.fixQuality = -1;
        r.loginNumber = 1;
        if (BaseRecord* base = mode == ROVER_BIND_NAMED ? bases->FindByName(mount) : nullptr) {
            r.boundChannelID = base->channelID;
            snprintf(r.boundBaseName, sizeof r.boundBaseName, "%s", base->mountPoint);
            base->roverCount += 1;
        }
        EXPECT_TRUE(rovers->Add(&r));
        return rovers->Find(channel);
    }

    void AddConn(uint64_t channel, int64_t lastActivity)
    {
        ConnInfo c;
        memset(&c, 0, sizeof c);
        c.channelID = channel;
        c.lastActivity = lastActivity;
        c.lastDataMs = lastActivity * 1000;
        snprintf(c.ip, sizeof c.ip, "127.0.0.1");
        EXPECT_TRUE(conns->Add(&c));
    }

    // What was posted since the last call, in order; the queue is emptied.
    std::vector<Posted> Taken()
    {
        std::vector<Posted> out;
        NHServer_TakeQueuedCommands(
            server,
            [](DecodingEvent* e, void* context) {
                static_cast<std::vector<Posted>*>(context)->push_back({e->kind, e->channelID, e->subscriberID});
            },
            &out);
        return out;
    }

    NHServer* server = nullptr;
    std::unique_ptr<ConnInfoTable> conns;
    std::unique_ptr<BaseTable> bases;
    std::unique_ptr<RoverTable> rovers;
    std::unique_ptr<RegistriesGuard> locks;
    NtripServerConfig config;
    CasterScope scope;
};
