// Every thread of the authentication-centre queue held by a silent centre,
// so that what a test asks next waits behind them; with Fill, the queue is
// full as well, of asks that are dropped unasked once the threads are let go.
#pragma once

#include "caster/relay/AuthCentreQueue.h"
#include "support/FakeAuthCentre.h"
#include "support/WaitFor.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

class HeldCentreQueue {
public:
    HeldCentreQueue() : silent_(new FakeAuthCentre(Silent())), fillerCentre_(FakeAuthCentre::Answer{})
    {
        silentRecord_ = RecordFor(silent_->Url());
        fillerRecord_ = RecordFor(fillerCentre_.Url());
    }
    ~HeldCentreQueue() { Release(); }
    HeldCentreQueue(const HeldCentreQueue&) = delete;
    HeldCentreQueue& operator=(const HeldCentreQueue&) = delete;

    // True once the silent centre holds a check on every thread.
    bool Hold()
    {
        for (int i = 0; i < AUTH_CENTRE_QUEUE_THREADS; ++i) Ask(&silentRecord_, "held", nullptr);
        return silent_->WaitRequests(AUTH_CENTRE_QUEUE_THREADS, 5000);
    }

    // AUTH_CENTRE_QUEUE_MAX asks behind the held ones, to a centre of their
    // own; they are wanted until Release.
    void Fill()
    {
        std::shared_ptr<State> state = state_;
        for (int i = 0; i < AUTH_CENTRE_QUEUE_MAX; ++i) {
            Ask(&fillerRecord_, "filler", [state] { return state->fillersWanted.load(); });
        }
    }

    // Lets everything go: the held checks end unanswered, the fillers are
    // no longer wanted. True once each was told.
    bool Release(int timeoutMs = 20000)
    {
        state_->fillersWanted = false;
        silent_.reset();
        return WaitFor([&] { return state_->told.load() == asked_; }, timeoutMs, 5);
    }

    // The fillers told "not asked", and those that reached their centre.
    int FillersDropped() const { return state_->fillersDropped.load(); }
    // The asks told their centre's answer came after the stop.
    int ToldStopped() const { return state_->stopped.load(); }
    size_t FillersPosted() { return fillerCentre_.RequestCount(); }

    static AuthCentreConfig RecordFor(const std::string& url)
    {
        AuthCentreConfig record;
        memset(&record, 0, sizeof(record));
        snprintf(record.url, sizeof(record.url), "%s", url.c_str());
        record.enabled = 1;
        return record;
    }

private:
    // Shared with the answers, which may run after a failed test has gone.
    struct State {
        std::atomic<int> told{0};
        std::atomic<int> fillersDropped{0};
        std::atomic<int> stopped{0};
        std::atomic<bool> fillersWanted{true};
    };

    static FakeAuthCentre::Answer Silent()
    {
        FakeAuthCentre::Answer answer;
        answer.silent = true;
        return answer;
    }

    void Ask(const AuthCentreConfig* record, const char* name, AuthCentreWanted wanted)
    {
        std::shared_ptr<State> state = state_;
        ++asked_;
        AuthCentreQueue_Ask(record, name, "pw", "1", std::move(wanted), [state](AuthCentreOutcome outcome, int) {
            if (outcome == AUTH_CENTRE_NOT_ASKED) ++state->fillersDropped;
            if (outcome == AUTH_CENTRE_STOPPED) ++state->stopped;
            ++state->told;
        });
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
    int asked_ = 0;
    std::unique_ptr<FakeAuthCentre> silent_;
    FakeAuthCentre fillerCentre_;
    AuthCentreConfig silentRecord_;
    AuthCentreConfig fillerRecord_;
};
