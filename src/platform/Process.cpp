#include "platform/Process.h"

#include <sys/resource.h>

#include <clocale>
#include <csignal>

void Platform_InitProcess()
{
    signal(SIGPIPE, SIG_IGN);
    setlocale(LC_NUMERIC, "C");
}

long Platform_RaiseOpenFileLimit()
{
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return -1;
    if (rl.rlim_cur < rl.rlim_max) {
        struct rlimit want = rl;
        want.rlim_cur = rl.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &want) == 0) rl = want;
    }
    return static_cast<long>(rl.rlim_cur);
}
