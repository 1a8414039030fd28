#include "blackbox/VorlaneInstance.h"

#include "support/Files.h"
#include "support/SanitizerReport.h"
#include "support/TestClient.h"
#include "support/TestEnv.h"
#include "support/WaitFor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Bounds of the start-up wait: a sanitizer build starts slower.
const int kStartTimeoutMs = 8000;
const int kStartAttempts = 3;

bool ConnectOnce(int port, int timeoutMs)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = false;
    int r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    if (r == 0) {
        ok = true;
    } else if (errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, timeoutMs) == 1) {
            int err = 0;
            socklen_t len = sizeof(err);
            ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    close(fd);
    return ok;
}

}  // namespace

bool PortAccepts(int port, int timeoutMs) { return port > 0 && ConnectOnce(port, timeoutMs); }

VorlaneInstance::VorlaneInstance()
{
    sourceDir_ = TestSourceDir();
    std::string bin = TestVorlaneBinary();
    if (dir_.Path().empty()) {
        error_ = "cannot make a temporary folder";
        return;
    }
    if (bin.empty() || sourceDir_.empty()) {
        error_ = "VORLANE_BIN and VORLANE_SOURCE_DIR must name the binary and the source tree";
        return;
    }
    std::error_code ec;
    fs::copy_file(bin, File("vorlane"), fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error_ = "cannot copy " + bin + ": " + ec.message();
        return;
    }
    fs::permissions(File("vorlane"), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec, ec);

    for (const char* db : {"station", "user"}) {
        std::string schema = ReadFile(sourceDir_ + "/schema/" + db + ".sql");
        if (schema.empty()) {
            error_ = std::string("cannot read schema/") + db + ".sql";
            return;
        }
        if (!RunSql(std::string(db) + ".db", schema, {})) {
            error_ = std::string("cannot create ") + db + ".db";
            return;
        }
    }
}

VorlaneInstance::~VorlaneInstance()
{
    process_.Kill();
    KeepOutputs();
    // A sanitizer build's caster prints a report and goes on, or ends with a
    // status the story may not look at: a report anywhere in what it wrote
    // fails the story that ran it.
    std::string err = Stderr();
    std::string report = SanitizerReport_Find(err);
    if (!report.empty()) {
        size_t from = err.find(report);
        ADD_FAILURE() << "the caster's standard error holds a sanitizer's report (kept in " << TestOutputDir() << "/"
                      << fs::path(Dir()).filename().string() << "):\n"
                      << err.substr(from, 20000);
    }
}

void VorlaneInstance::NoteSecret(const std::string& secret)
{
    if (!secret.empty()) secrets_.push_back(secret);
}

namespace {

// The "-i" credentials ("user:password") of a relay list.
std::vector<std::string> RelayListCredentials(const std::string& text)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    std::string token;
    bool next = false;
    while (in >> token) {
        if (next) found.push_back(token);
        next = token == "-i";
    }
    return found;
}

// The password of a "RelaySmtp.conf": the fourth word of its first line that
// is not a comment ("server port login password recipient ...").
std::string MailPassword(const std::string& text)
{
    for (const std::string& line : SplitLines(text)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream in(line);
        std::string word;
        for (int i = 0; i < 4 && in >> word; ++i) {
            if (i == 3) return word;
        }
        return "";
    }
    return "";
}

}  // namespace

void VorlaneInstance::KeepOutputs() const
{
    std::string root = TestOutputDir();
    if (root.empty() || Dir().empty()) return;
    std::error_code ec;
    fs::path kept = fs::path(root) / fs::path(Dir()).filename();
    fs::create_directories(kept, ec);
    if (ec) return;
    for (const auto& entry : fs::directory_iterator(Dir(), ec)) {
        std::string name = entry.path().filename().string();
        bool written = name.rfind("Vorlane_", 0) == 0 || name == "stdout.txt" || name == "stderr.txt" ||
                       name == "UserLog" || name == "dump";
        if (!written) continue;
        std::error_code copyError;
        fs::copy(entry.path(), kept / name, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
                 copyError);
    }
    std::vector<std::string> secrets = secrets_;
    for (const std::string& credentials : RelayListCredentials(ReadFile(File("RelayAccount.list")))) {
        secrets.push_back(credentials);
        size_t colon = credentials.find(':');
        if (colon != std::string::npos) secrets.push_back(credentials.substr(colon + 1));
    }
    std::string mail = MailPassword(ReadFile(File("RelaySmtp.conf")));
    if (!mail.empty()) secrets.push_back(mail);
    std::string list;
    for (const std::string& s : secrets) list += s + "\n";
    WriteFile((kept / "secrets.txt").string(), list);
}

void VorlaneInstance::SetConfig(const std::string& section, const std::string& key, int value)
{
    overrides_[{section, key}] = {false, std::to_string(value)};
}

void VorlaneInstance::SetConfigText(const std::string& section, const std::string& key, const std::string& value)
{
    overrides_[{section, key}] = {true, value};
}

bool VorlaneInstance::RunSql(const std::string& dbName, const std::string& sql,
                             const std::vector<std::pair<bool, std::string>>& binds) const
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(File(dbName).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 2000);
    bool ok;
    if (binds.empty()) {
        ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    } else {
        sqlite3_stmt* stmt = nullptr;
        ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
        for (size_t i = 0; ok && i < binds.size(); ++i) {
            int at = static_cast<int>(i + 1);
            ok = binds[i].first ? sqlite3_bind_text(stmt, at, binds[i].second.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK
                                : sqlite3_bind_int(stmt, at, atoi(binds[i].second.c_str())) == SQLITE_OK;
        }
        if (ok) ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return ok;
}

std::string VorlaneInstance::ExpiryText(long offsetSeconds)
{
    time_t at = time(nullptr) + offsetSeconds;
    struct tm t;
    localtime_r(&at, &t);
    char text[64];
    snprintf(text, sizeof(text), "%d/%d/%d %d:%d:%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
             t.tm_sec);
    return text;
}

namespace {

const char* const kInsertUser =
    "insert into user_tb (type, name, password, contactperson, contacttele, mail, qq, company, registerTime, role,"
    " expiredatetime, activation, activationperiod, firstonlinetime, enabled)"
    " values (?, ?, ?, '', '', '', '', '', ?, 0, ?, 0, 0, '', 1)";

}  // namespace

bool VorlaneInstance::AddBaseAccount(const std::string& mount, const std::string& password)
{
    NoteSecret(password);
    return RunSql("user.db", kInsertUser,
                  {{false, "2"}, {true, mount}, {true, password}, {true, ExpiryText(0)}, {true, ExpiryText(3650 * 86400L)}});
}

bool VorlaneInstance::AddRoverAccount(const std::string& user, const std::string& password, const std::string& expiry)
{
    NoteSecret(password);
    return RunSql("user.db", kInsertUser,
                  {{false, "3"}, {true, user}, {true, password}, {true, ExpiryText(0)}, {true, expiry}});
}

bool VorlaneInstance::AddOperatorAccount(const std::string& name, const std::string& password)
{
    return RunSql("user.db", kInsertUser,
                  {{false, "1"}, {true, name}, {true, password}, {true, ExpiryText(0)}, {true, ExpiryText(3650 * 86400L)}});
}

bool VorlaneInstance::AddBlackList(const std::string& mount)
{
    return RunSql("station.db", "insert into station_blacklist (station_name) values (?)", {{true, mount}});
}

bool VorlaneInstance::AddWhiteList(const std::string& mount)
{
    return RunSql("station.db", "insert into station_whitelist (station_name) values (?)", {{true, mount}});
}

int VorlaneInstance::CountListed(const std::string& table, const std::string& mount) const
{
    if (table != "station_blacklist" && table != "station_whitelist") return -1;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(File("station.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    sqlite3_busy_timeout(db, 2000);
    int count = -1;
    sqlite3_stmt* stmt = nullptr;
    std::string sql = "select count(*) from " + table + " where station_name = ?";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_bind_text(stmt, 1, mount.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        count = sqlite3_column_int(stmt, 0);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return count;
}

bool VorlaneInstance::WriteConfig()
{
    std::error_code ec;
    fs::copy_file(sourceDir_ + "/config/defaults/AuthCentre.json", File("AuthCentre.json"),
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return false;
    fs::remove_all(File("VorlaneConfig.json"), ec);
    if (makeConfig_) return makeConfig_(File("VorlaneConfig.json"));
    if (omitConfig_) return true;

    Json::Value root;
    Json::CharReaderBuilder reader;
    std::string errors;
    std::istringstream defaults(ReadFile(sourceDir_ + "/config/defaults/VorlaneConfig.json"));
    if (!Json::parseFromStream(reader, defaults, &root, &errors) || !root.isObject()) return false;

    const std::pair<const char*, int> sections[] = {
        {"ctrl_center_server", controlPort_}, {"ntrip_server", casterPort_}, {"http_server", httpPort_}};
    for (const auto& s : sections) {
        root[s.first]["ip"] = "127.0.0.1";
        root[s.first]["port"] = s.second;
    }
    for (const auto& o : overrides_) {
        Json::Value& item = root[o.first.first][o.first.second];
        if (o.second.first) {
            item = o.second.second;
        } else {
            item = atoi(o.second.second.c_str());
        }
    }
    for (const auto& r : removed_) {
        if (root[r.first].isObject()) root[r.first].removeMember(r.second);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "\t";
    return WriteFile(File("VorlaneConfig.json"), Json::writeString(writer, root) + "\n");
}

void VorlaneInstance::RemoveDailyLogs() const
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Dir(), ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("Vorlane_", 0) == 0) fs::remove(entry.path(), ec);
    }
}

bool VorlaneInstance::Launch()
{
    if (!Ready()) return false;
    casterPort_ = TestClient_FreePort();
    controlPort_ = TestClient_FreePort();
    httpPort_ = TestClient_FreePort();
    // Three binds to port 0 in a row give three ports; a repeat would make
    // the caster fight itself.
    while (controlPort_ == casterPort_) controlPort_ = TestClient_FreePort();
    while (httpPort_ == casterPort_ || httpPort_ == controlPort_) httpPort_ = TestClient_FreePort();
    auto port = overrides_.find({"ntrip_server", "port"});
    if (port != overrides_.end()) casterPort_ = atoi(port->second.second.c_str());

    if (!WriteConfig()) {
        error_ = "cannot write the configuration files";
        return false;
    }
    return process_.Spawn({File("vorlane")}, workingDir_.empty() ? Dir() : workingDir_, File("stdout.txt"),
                          File("stderr.txt"));
}

bool VorlaneInstance::ListensOn(int port) const
{
    // Listening sockets on the port, by inode, from the kernel's table.
    std::vector<std::string> inodes;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode)) {
            continue;
        }
        size_t colon = local.find(':');
        if (state != "0A" || colon == std::string::npos) continue;
        if (strtol(local.c_str() + colon + 1, nullptr, 16) == port) inodes.push_back("socket:[" + inode + "]");
    }
    if (inodes.empty()) return false;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(Pid()) + "/fd", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string target = fs::read_symlink(it->path(), ec).string();
        if (ec) {
            ec.clear();
            continue;
        }
        for (const std::string& inode : inodes) {
            if (target == inode) return true;
        }
    }
    return false;
}

bool VorlaneInstance::LostChosenControlPort() const
{
    for (const auto& o : overrides_) {
        if (o.first.first == "ctrl_center_server") return false;  // the test chose it
    }
    for (const auto& r : removed_) {
        if (r.first == "ctrl_center_server") return false;
    }
    // The control port listens a moment after the caster's, or logs that it
    // cannot. Its socket is looked for, not connected to: a probe would be a
    // control connection of its own in the stories that count them.
    const std::string lost = "control port cannot listen";
    WaitFor([&] { return ListensOn(controlPort_) || LogText().find(lost) != std::string::npos; }, 5000, 20);
    return LogText().find(lost) != std::string::npos;
}

bool VorlaneInstance::Start()
{
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (attempt > 0) RemoveDailyLogs();
        if (!Launch()) return false;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
        bool listening = false;
        while (std::chrono::steady_clock::now() < end) {
            if (!process_.Running()) break;
            // The port must be this process's: another program that took it
            // between its pick and the bind accepts on it too (and this one
            // then ends, to be started again on other ports).
            if (ListensOn(casterPort_) && PortAccepts(casterPort_, 200)) {
                listening = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (listening) {
            if (!LostChosenControlPort()) return true;
            process_.Kill();  // another program took the port between its pick and the bind
            continue;
        }
        if (process_.Running()) return false;  // alive but never listening: no retry helps
    }
    return false;
}

bool VorlaneInstance::StartWithInspector()
{
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (attempt > 0) {
            process_.Kill();
            RemoveDailyLogs();
        }
        if (!Start()) return false;
        // The inspector's bind ends in one line, "start ok" or "start fail".
        const std::string bound = "port=" + std::to_string(httpPort_) + ", start ";
        if (!WaitForLog(bound, 15000)) return false;
        if (LogText().find(bound + "ok") != std::string::npos) return true;
    }
    return false;
}

std::string VorlaneInstance::LogText() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Dir(), ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("Vorlane_", 0) == 0 && entry.is_regular_file()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) text += ReadFile(File(name));
    return text;
}

bool VorlaneInstance::WaitForLog(const std::string& text, int timeoutMs) const
{
    return WaitFor([&] { return LogText().find(text) != std::string::npos; }, timeoutMs);
}

int VorlaneInstance::CountInLog(const std::string& text) const
{
    if (text.empty()) return 0;
    std::string log = LogText();
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++n;
    return n;
}

int VorlaneInstance::CountInLogAtLeast(const std::string& text, int n, int timeoutMs) const
{
    int count = 0;
    WaitFor([&] { return (count = CountInLog(text)) >= n; }, timeoutMs, 50);
    return count;
}

std::vector<std::string> VorlaneInstance::UserLogFiles() const
{
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(File("UserLog"), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file()) files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string VorlaneInstance::UserLogText() const
{
    std::string text;
    for (const std::string& f : UserLogFiles()) text += ReadFile(f);
    return text;
}

int VorlaneInstance::OpenFileCount() const
{
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(Pid()) + "/fd", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        ++n;
    }
    return ec ? -1 : n;
}

std::string VorlaneInstance::Stdout() const { return ReadFile(File("stdout.txt")); }
std::string VorlaneInstance::Stderr() const { return ReadFile(File("stderr.txt")); }

std::string VorlaneInstance::Diagnostics() const
{
    std::string log = LogText();
    const size_t keep = 6000;
    if (log.size() > keep) log = "...\n" + log.substr(log.size() - keep);
    std::string err = Stderr();
    if (err.size() > keep) err = "...\n" + err.substr(err.size() - keep);
    return "folder " + Dir() + (error_.empty() ? "" : "\nerror: " + error_) + "\n--- daily log ---\n" + log +
           "\n--- stderr ---\n" + err;
}

long VorlaneInstance::StatusField(const std::string& name) const
{
    std::ifstream status("/proc/" + std::to_string(Pid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}
