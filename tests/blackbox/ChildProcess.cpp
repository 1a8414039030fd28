#include "blackbox/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

std::string ExitStatus::Describe() const
{
    if (!ended) return "still running (killed after the wait)";
    if (exited) return "exit status " + std::to_string(code);
    return std::string("killed by signal ") + std::to_string(signal) + " (" + strsignal(signal) + ")";
}

std::string FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::SetEnv(const std::string& name, const std::string& value)
{
    for (auto& entry : env_) {
        if (entry.first == name) {
            entry.second = value;
            return;
        }
    }
    env_.push_back({name, value});
}

bool ChildProcess::Spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outPath,
                         const std::string& errPath)
{
    Kill();
    if (argv.empty()) return false;
    std::string program = FindProgram(argv[0]);
    if (program.empty()) return false;

    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls are allowed (the test process has threads).
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The test's own environment with the added variables in place of any
    // of the same name.
    std::vector<std::string> added;
    for (const auto& entry : env_) added.push_back(entry.first + "=" + entry.second);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto& entry : env_) {
            size_t n = entry.first.size();
            if (strncmp(*e, entry.first.c_str(), n) == 0 && (*e)[n] == '=') replaced = true;
        }
        if (!replaced) envp.push_back(*e);
    }
    for (std::string& a : added) envp.push_back(const_cast<char*>(a.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();

    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        // A test may have blocked signals (the child must see SIGTERM).
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (openFileLimit_ > 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(openFileLimit_);
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
        }
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    pid_ = pid;
    last_ = ExitStatus();
    return true;
}

void ChildProcess::Reaped(int rawStatus)
{
    last_ = ExitStatus();
    last_.ended = true;
    if (WIFEXITED(rawStatus)) {
        last_.exited = true;
        last_.code = WEXITSTATUS(rawStatus);
    } else if (WIFSIGNALED(rawStatus)) {
        last_.signal = WTERMSIG(rawStatus);
    }
    pid_ = -1;
}

bool ChildProcess::Running()
{
    if (pid_ <= 0) return false;
    int raw = 0;
    pid_t r = waitpid(pid_, &raw, WNOHANG);
    if (r == pid_) {
        Reaped(raw);
        return false;
    }
    return true;
}

ExitStatus ChildProcess::Wait(int timeoutMs)
{
    if (pid_ <= 0) return last_;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() >= end) {
            ExitStatus pending;
            return pending;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return last_;
}

ExitStatus ChildProcess::Stop(int sig, int timeoutMs)
{
    if (pid_ <= 0) return last_;
    kill(pid_, sig);
    ExitStatus status = Wait(timeoutMs);
    if (!status.ended) {
        Kill();
        ExitStatus killed;  // ended stays false: the signal did not end it in time
        killed.signal = SIGKILL;
        return killed;
    }
    return status;
}

void ChildProcess::Kill()
{
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int raw = 0;
    while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
    Reaped(raw);
}
