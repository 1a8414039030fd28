// One real vorlane process for a black-box test, in a folder of its own.
//
// The constructor makes a temporary folder, copies the binary named by
// VORLANE_BIN into it and creates "station.db" and "user.db" from the schema
// files under VORLANE_SOURCE_DIR (support/TestEnv.h: the build's own paths
// when the environment does not name them). Accounts, list rows and configuration
// overrides are added before Start(); Start() writes "VorlaneConfig.json"
// (the default file with free loopback ports for the caster, control and HTTP
// sections, then the overrides) and "AuthCentre.json", runs the binary there
// and waits until the caster port accepts. Every test case gets its own
// folder and ports, so cases run in parallel.
//
// When it ends, the instance keeps what the caster wrote (daily logs,
// "UserLog", "dump", stdout and stderr) under TestOutputDir() (support/
// TestEnv.h), in a folder named like its own, with "secrets.txt": every
// password the caster was given (accounts added here, NoteSecret, the "-i"
// credentials of its "RelayAccount.list", the password of its
// "RelaySmtp.conf"). The suite's last test checks that
// none of them appears in anything kept (SecretScanTest.cpp). A sanitizer's
// report in its stderr fails the story then (support/SanitizerReport.h).
#pragma once

#include "blackbox/ChildProcess.h"
#include "support/TempDir.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class VorlaneInstance {
public:
    VorlaneInstance();
    ~VorlaneInstance();
    VorlaneInstance(const VorlaneInstance&) = delete;
    VorlaneInstance& operator=(const VorlaneInstance&) = delete;

    // False (with Error() saying why) when the folder, binary or databases
    // could not be made.
    bool Ready() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    const std::string& Dir() const { return dir_.Path(); }
    std::string File(const std::string& name) const { return dir_.File(name); }

    // The ports written into the configuration by the last Start()/Launch().
    int CasterPort() const { return casterPort_; }
    int ControlPort() const { return controlPort_; }
    int HttpPort() const { return httpPort_; }

    // Configuration overrides, applied over the defaults and the chosen ports
    // (so an override of "ip" or "port" wins).
    void SetConfig(const std::string& section, const std::string& key, int value);
    void SetConfigText(const std::string& section, const std::string& key, const std::string& value);
    void SetNtrip(const std::string& key, int value) { SetConfig("ntrip_server", key, value); }
    // The process's open-files limit, soft and hard (so it cannot raise it).
    void SetOpenFileLimit(long limit) { process_.SetOpenFileLimit(limit); }
    // A variable of the process's environment (LD_PRELOAD, say).
    void SetEnv(const std::string& name, const std::string& value) { process_.SetEnv(name, value); }
    // Leaves the key out of its section (after the defaults and overrides),
    // so the caster's own default applies.
    void RemoveConfig(const std::string& section, const std::string& key) { removed_.push_back({section, key}); }
    // Launch without a "VorlaneConfig.json".
    void OmitConfig() { omitConfig_ = true; }
    // Launch with whatever make(path) puts at the configuration's path
    // instead of the configuration (a broken file, a folder); a false from
    // make fails the launch.
    void MakeConfigWith(std::function<bool(const std::string& path)> make) { makeConfig_ = std::move(make); }
    // Run the process in another working directory than its own folder (to
    // see that nothing is written where it was started).
    void SetWorkingDir(const std::string& dir) { workingDir_ = dir; }

    // Accounts in user.db; add them before Start (the caster loads them then).
    // A base account is user_tb type 2 named by its mount point; a rover is
    // type 3 with an expiry text "Y/M/D h:m:s".
    bool AddBaseAccount(const std::string& mount, const std::string& password);
    bool AddRoverAccount(const std::string& user, const std::string& password, const std::string& expiry);
    bool AddRoverAccount(const std::string& user, const std::string& password)
    {
        return AddRoverAccount(user, password, ExpiryText(365 * 86400L));
    }
    // An operator account (type 1), the kind that logs in on the control port.
    bool AddOperatorAccount(const std::string& name, const std::string& password);
    // Local time now + offsetSeconds as "%d/%d/%d %d:%d:%d".
    static std::string ExpiryText(long offsetSeconds);

    // A password the caster is given some other way (an upstream's or a mail
    // account, a fake centre's); accounts added above are noted already.
    void NoteSecret(const std::string& secret);

    // Rows of station.db.
    bool AddBlackList(const std::string& mount);
    bool AddWhiteList(const std::string& mount);
    // How many rows of the list ("station_blacklist" or "station_whitelist")
    // hold the name; -1 when the database cannot be read.
    int CountListed(const std::string& table, const std::string& mount) const;

    // Writes the files and starts the process; does not wait for any port.
    bool Launch();
    // Launch, then wait (bounded) until the caster port accepts. A launch
    // that dies at once (a chosen port was taken meanwhile) is tried again
    // with new ports. False when the caster never accepted.
    bool Start();
    // Start, then wait until the HTTP inspector listens too: it binds a
    // moment after the start, and one whose chosen port was taken meanwhile
    // starts the caster again on new ports.
    bool StartWithInspector();
    bool Running() { return process_.Running(); }
    // SIGTERM (or sig), then the exit status within timeoutMs.
    ExitStatus Stop(int sig = 15, int timeoutMs = 10000) { return process_.Stop(sig, timeoutMs); }
    ExitStatus WaitExit(int timeoutMs) { return process_.Wait(timeoutMs); }
    pid_t Pid() const { return process_.Pid(); }
    // The running caster's open descriptors; -1 when they cannot be read.
    int OpenFileCount() const;
    // A field of /proc/<pid>/status ("Threads", "VmRSS" in kB); -1 when
    // it cannot be read.
    long StatusField(const std::string& name) const;

    // The daily log text ("Vorlane_YYYY-MM-DD.log", and any later day's file,
    // in date order).
    std::string LogText() const;
    bool WaitForLog(const std::string& text, int timeoutMs = 5000) const;
    int CountInLog(const std::string& text) const;
    // The count once it has reached n, or what it is after timeoutMs: the
    // daily log is written by a thread of its own, a moment after the event.
    int CountInLogAtLeast(const std::string& text, int n, int timeoutMs = 10000) const;
    // Everything under "UserLog", concatenated, and the list of its files.
    std::string UserLogText() const;
    std::vector<std::string> UserLogFiles() const;
    std::string Stdout() const;
    std::string Stderr() const;
    // Log, stdout and stderr, for failure messages.
    std::string Diagnostics() const;

private:
    bool WriteConfig();
    bool RunSql(const std::string& dbName, const std::string& sql,
                const std::vector<std::pair<bool, std::string>>& binds) const;
    void RemoveDailyLogs() const;
    void KeepOutputs() const;

    TempDir dir_;
    std::string error_;
    std::string sourceDir_;
    ChildProcess process_;
    int casterPort_ = 0;
    int controlPort_ = 0;
    int httpPort_ = 0;
    bool omitConfig_ = false;
    std::function<bool(const std::string& path)> makeConfig_;
    std::string workingDir_;  // empty: the process's own folder
    std::vector<std::string> secrets_;
    // (section, key) -> (is text, value as written)
    // True when the control port this start chose was taken by another
    // program before the caster bound it (the caster then serves without it).
    bool LostChosenControlPort() const;
    // True when the process holds a socket listening on the port.
    bool ListensOn(int port) const;
    std::map<std::pair<std::string, std::string>, std::pair<bool, std::string>> overrides_;
    std::vector<std::pair<std::string, std::string>> removed_;  // (section, key)
};

// True when a TCP connection to 127.0.0.1:port is accepted within timeoutMs.
bool PortAccepts(int port, int timeoutMs);
