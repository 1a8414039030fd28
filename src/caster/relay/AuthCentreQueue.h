// Checks with the authentication centre on threads of their own, so that a
// centre that is slow or silent holds only the logins that asked it: the
// login workers, which every other base and rover login shares, go on.
//
// Asks run in the order they were made on AUTH_CENTRE_QUEUE_THREADS threads;
// each answer is handed to its callback on the thread that asked the centre.
// Just before its POST an ask is asked whether it is still wanted: one whose
// asker has gone meanwhile is dropped unasked, so that a centre's time is
// never spent on connections that left. At most AUTH_CENTRE_QUEUE_MAX asks
// wait; past that an ask is answered at once, unasked, with
// AUTH_CENTRE_QUEUE_FULL. No exception leaves a centre thread: one thrown by
// an ask is logged, and its answer, when not told yet, is told
// AUTH_CENTRE_FAILED.
#pragma once

#include "config/ConfigRecords.h"

#include <functional>
#include <string>

enum {
    AUTH_CENTRE_QUEUE_THREADS = 4,
    AUTH_CENTRE_QUEUE_MAX = 1000,
};

// What became of an ask. Whatever it is, the answer is told exactly once.
enum AuthCentreOutcome {
    AUTH_CENTRE_ANSWERED = 0,  // asked: the code is AuthCentre::Post's result
    AUTH_CENTRE_NOT_ASKED,     // dropped unasked at its turn: no longer wanted (code -1)
    AUTH_CENTRE_QUEUE_FULL,    // refused unasked at once, on the caller's thread (code -1)
    AUTH_CENTRE_FAILED,        // the ask threw before it had an answer (code -1)
    AUTH_CENTRE_STOPPED,       // asked, but the centre answered after the stop: not to be acted on (code -1)
};

// Called on a centre thread just before the POST, with no lock of the queue
// held; false drops the ask. It may take the registries.
typedef std::function<bool()> AuthCentreWanted;
typedef std::function<void(AuthCentreOutcome outcome, int code)> AuthCentreAnswer;

// The centre record must outlive the process (the centre object's does). An
// empty wanted keeps the ask.
void AuthCentreQueue_Ask(const AuthCentreConfig* centre, const std::string& name, const std::string& password,
                         const std::string& node, AuthCentreWanted wanted, AuthCentreAnswer answer);

// For an orderly exit: no ask is taken from now on (a later ask is told
// AUTH_CENTRE_NOT_ASKED at once), the asks still waiting are told
// AUTH_CENTRE_NOT_ASKED, a check in flight whose answer comes after this is
// told AUTH_CENTRE_STOPPED, and the threads are joined once the checks in
// flight have ended (the centre's own time-out bounds them). True when every
// thread has ended within timeoutMs; false leaves an answer that began before
// the stop possibly still running, so what it reaches must stay.
bool AuthCentreQueue_Stop(unsigned timeoutMs);
