// Checks with the authentication centre on threads of their own, so that a
// centre that is slow or silent holds only the logins that asked it: the
// login workers, which every other base and rover login shares, go on.
//
// Asks run in the order they were made on AUTH_CENTRE_QUEUE_THREADS threads;
// each answer is handed to its callback on the thread that asked the centre.
// At most AUTH_CENTRE_QUEUE_MAX asks wait; past that an ask is answered -1
// at once, as a centre that cannot be reached.
#pragma once

#include "config/ConfigRecords.h"

#include <functional>
#include <string>

enum {
    AUTH_CENTRE_QUEUE_THREADS = 4,
    AUTH_CENTRE_QUEUE_MAX = 1000,
};

// The centre record must outlive the process (the centre object's does).
// answer gets AuthCentre::Post's result.
void AuthCentreQueue_Ask(const AuthCentreConfig* centre, const std::string& name, const std::string& password,
                         const std::string& node, std::function<void(int)> answer);
