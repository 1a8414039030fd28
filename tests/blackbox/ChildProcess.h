// One child program run by a black-box test: started with fork/exec in a
// folder of its choosing, its output sent to files, stopped by a signal with
// a bounded wait, and killed when the test lets go of it. The child is also
// killed when the test process dies, so a timed-out test leaves nothing
// running.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct ExitStatus {
    bool ended = false;   // the process ended within the wait
    bool exited = false;  // ended by exit() / return from main
    int code = -1;        // exit code when exited
    int signal = 0;       // terminating signal when killed by one

    bool Success() const { return ended && exited && code == 0; }
    std::string Describe() const;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program: a path, or a name looked up in PATH. stdout and
    // stderr are appended to outPath and errPath; stdin reads /dev/null.
    bool Spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outPath,
               const std::string& errPath);

    // The child's soft and hard limit of open files (as `ulimit -n` sets
    // both), for the next Spawn; 0 keeps the test's own.
    void SetOpenFileLimit(long limit) { openFileLimit_ = limit; }
    // A variable added to (or replacing one of) the child's environment, for
    // every later Spawn.
    void SetEnv(const std::string& name, const std::string& value);

    pid_t Pid() const { return pid_; }
    // True while the child runs (reaps it once it has ended).
    bool Running();
    // Waits up to timeoutMs for the child to end.
    ExitStatus Wait(int timeoutMs);
    // Sends sig, waits up to timeoutMs; a child still running then is killed
    // (the result then has ended == false).
    ExitStatus Stop(int sig, int timeoutMs);
    // SIGKILL and reap; nothing when no child runs.
    void Kill();

private:
    void Reaped(int rawStatus);

    pid_t pid_ = -1;
    long openFileLimit_ = 0;
    std::vector<std::pair<std::string, std::string>> env_;
    ExitStatus last_;
};

// The full path of a program found in PATH ("" when none).
std::string FindProgram(const std::string& name);
