// Whether a login is still worth going on with (the authentication centre
// is asked about it only then) agrees with the login time-out: a connection
// the time-out pass would close, or one closing or gone, is not.
#include "caster/BindingFixture.h"
#include "caster/session/LoginTimeout.h"

#include <cstdint>

namespace {

struct LoginCase {
    const char* what;
    bool present;
    bool closing;
    int64_t ageMs;  // since its open
    bool stillLoggingIn;
};

class LoginTimeoutTest : public BindingTest {};

TEST_F(LoginTimeoutTest, AConnectionIsStillLoggingInUntilItsTimeIsUpOrItCloses)
{
    const int64_t nowMs = 9000000;
    const LoginCase cases[] = {
        {"just opened", true, false, 0, true},
        {"a moment before its time", true, false, Ntrip::LOGIN_TIMEOUT_MS - 1, true},
        {"at its time", true, false, Ntrip::LOGIN_TIMEOUT_MS, false},
        {"long past its time", true, false, 10 * Ntrip::LOGIN_TIMEOUT_MS, false},
        {"closing", true, true, 0, false},
        {"gone", false, false, 0, false},
    };
    uint64_t channel = 100;
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.what);
        ++channel;
        if (c.present) {
            AddConn(channel, 0);
            conns->Find(channel)->openedMs = nowMs - c.ageMs;
            conns->Find(channel)->closing = c.closing ? 1 : 0;
        }
        EXPECT_EQ(c.stillLoggingIn, Ntrip::LoginTimeout_StillLoggingIn(scope, channel, nowMs));
        // The pass closes exactly the open ones that are no longer logging in.
        Ntrip::LoginTimeout_Pass(scope, nowMs);
        bool closedByPass = Taken() == std::vector<Posted>{Close(channel)};
        EXPECT_EQ(c.present && !c.closing && !c.stillLoggingIn, closedByPass);
        if (c.present) conns->Remove(channel);
    }
}

}  // namespace
