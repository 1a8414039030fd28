// Fan-out benchmark of the whole caster: one base streams through a real
// vorlane process to N rovers that logged in over NTRIP, on loopback.
//
// vorlane runs from a temporary folder of its own (the black-box harness
// lays it out: configuration on free ports, empty databases, base and rover
// logins without password checks, so N rovers need no N accounts). The base
// logs in with "SOURCE", each rover with "GET" and Basic authorization under
// a user name of its own. Each chunk the base sends carries the monotonic
// time of its write and a sequence number; a rover's latency for a chunk runs
// from that write to the read that completes the chunk. The caster's CPU
// time and resident memory come from /proc of its process.
//
// References, run in the same invocation on the same CPUs:
// - epoll: a bare epoll broadcaster (bench/epoll_broadcaster, one send() per
//   subscriber per piece read, nothing else), the floor for one loop thread;
// - blocking: a bare blocking broadcaster (bench/blocking_broadcaster, one
//   read of up to 64 KiB from the base, then one blocking write() per rover);
// - str2str: RTKLIB's own caster (str2str -in tcpsvr://:P -out
//   ntripc://:Q/MNT1); it serves at most 32 rovers, so it runs with min(N, 32).
//
// With --poll-inspector an operator asks vorlane's HTTP inspector for every
// online rover ("/xqn_rover_info") once a second while the stream runs; the
// answers are counted and timed, and the fan-out latency shows what the
// queries cost the caster loop.
//
// With --churn R, R more rovers per second log in and out on the side while
// the stream runs; with --ctrl-clients K, K control centres logged in on
// vorlane's control port receive every notification that churn raises (each
// a frame of its own), so the fan-out latency shows what the notifications
// cost the caster loop.
//
// With --query-control an operator logged in on vorlane's control port asks
// for the whole rover list (type 5) and for a page of 20 rovers (type 6)
// once a second while the stream runs; each answer is timed from the request
// to its last frame, and the fan-out latency shows what the lists cost.
//
// With --login-rate, --login-clients P connections (default 8) each log a
// rover in and out, one after the other, as fast as the caster answers while
// the stream runs; reports the logins per second. Against the references it
// is the rate of a bare accept and reply.
//
// The casters run on --server-cpus (default: the first half of the CPUs this
// process may use), the base, the rovers' 4 reader processes and the other
// clients on the others.
//
//   caster_fanout [--rovers 1000,5000,10000] [--chunk 1024] [--interval-ms 100]
//                 [--seconds 10] [--target vorlane,epoll,blocking[,str2str]] [--server-cpus 0-3]
//                 [--poll-inspector] [--churn 100] [--ctrl-clients 2] [--query-control] [--drop]
//                 [--login-rate] [--login-clients 8]
//   (a target "vorlane-before=PATH" runs the vorlane binary at PATH as one more caster)
//   caster_fanout --rate   (a rover's real rate: 3072 B once a second to 10000
//                           rovers for 30 s; the other options still apply)
//
// --drop: N rovers on one base all leave at once and log in again, while a
// second base streams to one probe rover; reports the caster's CPU spent on
// the drop and on the relogins, and the longest gap in the probe's stream.
#include "blackbox/ChildProcess.h"
#include "blackbox/NtripTexts.h"
#include "blackbox/VorlaneInstance.h"
#include "common/FanoutMeasure.h"
#include "support/CtrlCenterClient.h"
#include "support/TempDir.h"
#include "support/TestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <new>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bench::AwaitDelivery;
using Bench::Connect;
using Bench::HEADER;
using Bench::Histogram;
using Bench::NowNs;
using Bench::ParseCounts;

const int kStr2StrMaxRovers = 32;  // RTKLIB's caster answers no more clients than this
const int kReaderProcesses = 4;

bool WriteAll(int fd, const void* data, size_t n)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Reads exactly n bytes within timeoutMs (blocking socket with a receive time-out).
bool ReadExactly(int fd, std::string* out, size_t n, int timeoutMs)
{
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    out->clear();
    char buffer[256];
    while (out->size() < n) {
        ssize_t r = recv(fd, buffer, std::min(sizeof(buffer), n - out->size()), 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        out->append(buffer, static_cast<size_t>(r));
    }
    return true;
}

// ---- the caster process, from /proc ----------------------------------------

double ProcessCpuSeconds(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return 0;
    char text[2048];
    size_t n = fread(text, 1, sizeof(text) - 1, f);
    fclose(f);
    text[n] = '\0';
    const char* p = strrchr(text, ')');  // the command name may hold blanks
    if (!p) return 0;
    unsigned long utime = 0, stime = 0;
    // Fields after the name: state (3) ... utime (14), stime (15).
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return 0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "VmRSS" / "VmHWM" line of /proc/<pid>/status, in KB.
long ProcessMemoryKb(pid_t pid, const char* key)
{
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return 0;
    char line[256];
    long kb = 0;
    size_t keyLength = strlen(key);
    while (fgets(line, sizeof(line), f)) {
        if (strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
            kb = atol(line + keyLength + 1);
            break;
        }
    }
    fclose(f);
    return kb;
}

// ---- the rovers ---------------------------------------------------------------

struct Rover {
    int fd = -1;
    std::string reply;       // the login reply as received
    bool ready = false;      // the whole reply is in
    bool badReply = false;   // it was not the expected one
    bool closed = false;
    uint64_t received = 0;   // chunk bytes after the reply
    size_t offset = 0;       // position within the current chunk
    unsigned char header[HEADER];
    uint64_t expectSeq = 0;
    uint64_t orderErrors = 0;
};

// Counters the reader processes and this one share (in shared memory).
struct Live {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> delivered{0};
    std::atomic<int> ready{0};
    std::atomic<int> closed{0};
};

struct Shared {
    size_t chunk = 0;
    std::string expectedReply;
    Live* live = nullptr;
};

// What one reader process saw: every rover's latency per chunk, and per
// chunk the latest arrival among its rovers.
struct ReaderStats {
    Histogram perRover;
    std::vector<uint64_t> lastBySeq;  // ns from the base's write to the last of its rovers' reads
    uint64_t orderErrors = 0;
    uint64_t badReplies = 0;
};

void Consume(Rover& r, const unsigned char* data, size_t n, Shared& shared, ReaderStats& stats)
{
    while (n > 0) {
        if (!r.ready) {
            size_t take = std::min(n, shared.expectedReply.size() - r.reply.size());
            r.reply.append(reinterpret_cast<const char*>(data), take);
            data += take;
            n -= take;
            if (r.reply.size() == shared.expectedReply.size()) {
                r.ready = true;
                r.badReply = r.reply != shared.expectedReply;
                ++shared.live->ready;
            }
            continue;
        }
        size_t take = std::min(n, shared.chunk - r.offset);
        if (r.offset < HEADER) memcpy(r.header + r.offset, data, std::min(take, HEADER - r.offset));
        r.offset += take;
        r.received += take;
        shared.live->delivered += take;
        data += take;
        n -= take;
        if (r.offset == shared.chunk) {
            uint64_t sent, seq;
            memcpy(&sent, r.header, 8);
            memcpy(&seq, r.header + 8, 8);
            uint64_t latency = NowNs() - sent;
            stats.perRover.Add(latency);
            if (seq < 1000000) {
                if (stats.lastBySeq.size() <= seq) stats.lastBySeq.resize(seq + 1, 0);
                stats.lastBySeq[seq] = std::max(stats.lastBySeq[seq], latency);
            }
            if (seq != r.expectSeq) ++r.orderErrors;
            r.expectSeq = seq + 1;
            r.offset = 0;
        }
    }
}

void ReaderLoop(const std::vector<Rover*>& mine, Shared* shared, ReaderStats* stats)
{
    int ep = epoll_create1(EPOLL_CLOEXEC);
    for (Rover* r : mine) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = r;
        epoll_ctl(ep, EPOLL_CTL_ADD, r->fd, &ev);
    }
    std::vector<epoll_event> events(256);
    std::vector<unsigned char> buffer(65536);
    while (!shared->live->stop.load()) {
        int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 50);
        for (int i = 0; i < n; ++i) {
            Rover* r = static_cast<Rover*>(events[i].data.ptr);
            ssize_t got = recv(r->fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got > 0) {
                Consume(*r, buffer.data(), static_cast<size_t>(got), *shared, *stats);
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                r->closed = true;
                ++shared->live->closed;
                epoll_ctl(ep, EPOLL_CTL_DEL, r->fd, nullptr);
            }
        }
    }
    close(ep);
    for (Rover* r : mine) {
        stats->orderErrors += r->orderErrors;
        if (r->badReply) ++stats->badReplies;
    }
}

// ---- the reader processes ----------------------------------------------------------
//
// The rovers are read by processes of their own (on the clients' CPUs), as
// independent receivers would be; each takes every k-th rover and hands its
// figures back through a pipe when told to stop.



bool SendStats(int fd, const ReaderStats& s)
{
    uint64_t seqs = s.lastBySeq.size();
    return Bench::WriteAll(fd, s.perRover.fine.data(), s.perRover.fine.size() * sizeof(uint64_t)) &&
           Bench::WriteAll(fd, s.perRover.coarse.data(), s.perRover.coarse.size() * sizeof(uint64_t)) &&
           Bench::WriteAll(fd, &s.perRover.count, sizeof(uint64_t)) && Bench::WriteAll(fd, &s.perRover.maxNs, sizeof(uint64_t)) &&
           Bench::WriteAll(fd, &s.orderErrors, sizeof(uint64_t)) && Bench::WriteAll(fd, &s.badReplies, sizeof(uint64_t)) &&
           Bench::WriteAll(fd, &seqs, sizeof(seqs)) && Bench::WriteAll(fd, s.lastBySeq.data(), seqs * sizeof(uint64_t));
}

bool ReceiveStats(int fd, ReaderStats* s)
{
    uint64_t seqs = 0;
    if (!Bench::ReadAll(fd, s->perRover.fine.data(), s->perRover.fine.size() * sizeof(uint64_t)) ||
        !Bench::ReadAll(fd, s->perRover.coarse.data(), s->perRover.coarse.size() * sizeof(uint64_t)) ||
        !Bench::ReadAll(fd, &s->perRover.count, sizeof(uint64_t)) || !Bench::ReadAll(fd, &s->perRover.maxNs, sizeof(uint64_t)) ||
        !Bench::ReadAll(fd, &s->orderErrors, sizeof(uint64_t)) || !Bench::ReadAll(fd, &s->badReplies, sizeof(uint64_t)) ||
        !Bench::ReadAll(fd, &seqs, sizeof(seqs)) || seqs > 1000000) {
        return false;
    }
    s->lastBySeq.resize(seqs);
    return Bench::ReadAll(fd, s->lastBySeq.data(), seqs * sizeof(uint64_t));
}

struct ReaderProcess {
    pid_t pid = -1;
    int pipe = -1;  // its figures come through here
};

// Starts `count` reader processes over the rovers (every count-th each); this
// process keeps none of the rovers' ends. Returns the processes started.
std::vector<ReaderProcess> StartReaders(std::vector<Rover>* rovers, Shared* shared, int base, unsigned count)
{
    std::vector<ReaderProcess> out;
    fflush(stdout);
    fflush(stderr);
    for (unsigned k = 0; k < count; ++k) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) break;
        pid_t pid = fork();
        if (pid < 0) {
            close(ends[0]);
            close(ends[1]);
            break;
        }
        if (pid == 0) {
            close(ends[0]);
            close(base);
            for (const ReaderProcess& p : out) close(p.pipe);
            std::vector<Rover*> mine;
            for (size_t i = 0; i < rovers->size(); ++i) {
                Rover& r = (*rovers)[i];
                if (i % count == k) {
                    mine.push_back(&r);
                } else if (r.fd >= 0) {
                    close(r.fd);
                }
            }
            ReaderStats stats;
            ReaderLoop(mine, shared, &stats);
            _exit(SendStats(ends[1], stats) ? 0 : 1);
        }
        close(ends[1]);
        out.push_back({pid, ends[0]});
    }
    for (Rover& r : *rovers) {
        if (r.fd >= 0) close(r.fd);
        r.fd = -1;
    }
    return out;
}

// Collects every reader's figures once they were told to stop; false when one failed.
bool JoinReaders(const std::vector<ReaderProcess>& readers, std::vector<ReaderStats>* stats)
{
    bool all = true;
    stats->assign(readers.size(), ReaderStats());
    for (size_t i = 0; i < readers.size(); ++i) {
        if (!ReceiveStats(readers[i].pipe, &(*stats)[i])) all = false;
        close(readers[i].pipe);
        int status = 0;
        if (waitpid(readers[i].pid, &status, 0) != readers[i].pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            all = false;
        }
    }
    return all;
}

// ---- the operator at the HTTP inspector ---------------------------------------

const char* const kRoverInfoCount = "在线流动站信息,数量:";

struct PollStats {
    int polls = 0;
    int answered = 0;  // HTTP 200 with the count of rovers expected
    std::vector<double> ms;
    size_t bodyBytes = 0;
};

// One POST of {"any":1} to /xqn_rover_info: the rover count of the answer,
// or -1 when there was no 200 answer.
int AskRoverInfo(int port, size_t* bodyBytes)
{
    int fd = Connect(port);
    if (fd < 0) return -1;
    const std::string body = "{\"any\":1}";
    std::string request = "POST /xqn_rover_info HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                          "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    std::string answer;
    if (WriteAll(fd, request.data(), request.size())) {
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        char buffer[65536];
        ssize_t r;
        while ((r = recv(fd, buffer, sizeof(buffer), 0)) > 0) answer.append(buffer, static_cast<size_t>(r));
    }
    close(fd);
    *bodyBytes = answer.size();
    size_t at = answer.find(kRoverInfoCount);
    if (answer.compare(0, 15, "HTTP/1.1 200 OK") != 0 || at == std::string::npos) return -1;
    return atoi(answer.c_str() + at + strlen(kRoverInfoCount));
}

// Polls once a second until stop.
void PollInspector(int port, int rovers, const std::atomic<bool>* stop, PollStats* stats)
{
    uint64_t next = NowNs();
    while (!stop->load()) {
        if (NowNs() < next) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        next += 1000000000ull;
        uint64_t t0 = NowNs();
        int count = AskRoverInfo(port, &stats->bodyBytes);
        ++stats->polls;
        if (count == rovers) ++stats->answered;
        stats->ms.push_back((NowNs() - t0) / 1e6);
    }
}

bool WaitInspector(int port)
{
    for (int i = 0; i < 200; ++i) {
        if (PortAccepts(port, 100)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// ---- the operator at the control port --------------------------------------------

const char* const kBenchOperator = "bench-op";
const char* const kBenchOperatorPassword = "bench-op-pw";

struct ControlStats {
    bool loggedIn = false;
    int asks = 0;
    int listsComplete = 0;  // every rover listed, in frames all but the last marked more
    int pagesComplete = 0;  // 20 rovers and the right total
    std::vector<double> listMs;
    std::vector<double> pageMs;
    size_t listFrames = 0;
    size_t listBytes = 0;
};

// Sends one list request and reads its frames up to the one with more 0:
// the items and the total_count of the last frame; false on time-out.
bool AskList(CtrlCenterClient* c, uint32_t type, int32_t id, const CtrlWire::Pb& body, size_t* items, int64_t* total,
             size_t* frames, size_t* bytes)
{
    *items = *frames = *bytes = 0;
    c->Request(type, id, body);
    CtrlWire::Received r;
    for (;;) {
        if (!c->NextReply(&r, 10000) || r.type != 1000 + type || r.id != id) return false;
        CtrlWire::PbFields f = CtrlWire::ParsePb(r.body);
        *items += f.All(2).size();
        *total = f.Int(3);
        ++*frames;
        *bytes += r.raw.size();
        if (r.more == 0) return true;
    }
}

void QueryControl(int port, int rovers, const std::atomic<bool>* stop, ControlStats* stats)
{
    CtrlCenterClient c;
    if (!c.Connect(port) || c.Login(kBenchOperator, kBenchOperatorPassword) != 20) return;
    stats->loggedIn = true;
    uint64_t next = NowNs();
    int32_t id = 1;
    while (!stop->load()) {
        if (NowNs() < next) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        next += 1000000000ull;
        ++stats->asks;
        size_t items = 0, frames = 0, bytes = 0;
        int64_t total = 0;
        uint64_t t0 = NowNs();
        bool ok = AskList(&c, 5, ++id, CtrlWire::Pb(), &items, &total, &frames, &bytes);
        stats->listMs.push_back((NowNs() - t0) / 1e6);
        if (ok && items == static_cast<size_t>(rovers)) ++stats->listsComplete;
        stats->listFrames = frames;
        stats->listBytes = bytes;
        t0 = NowNs();
        ok = AskList(&c, 6, ++id, CtrlWire::Pb().Int(1, 0).Int(2, 20), &items, &total, &frames, &bytes);
        stats->pageMs.push_back((NowNs() - t0) / 1e6);
        if (ok && items == static_cast<size_t>(std::min(rovers, 20)) && total == rovers) ++stats->pagesComplete;
    }
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Slowest(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

// ---- one run -------------------------------------------------------------------

struct Options {
    std::vector<int> counts{1000, 5000, 10000};
    std::vector<std::string> targets{"vorlane", "epoll", "blocking"};
    size_t chunk = 1024;
    int intervalMs = 100;
    double seconds = 10;
    std::vector<int> serverCpus;  // empty: the first half of what we may use
    bool pollInspector = false;
    bool queryControl = false;
    int churnPerSecond = 0;
    int ctrlClients = 0;
    bool drop = false;  // the drop-and-relog run instead of the stream
    bool loginRate = false;  // rovers log in and out as fast as they can beside the stream
    int loginClients = 8;    // connections logging in at once
};

// A caster under test: where rovers and the base connect, how the base logs
// in, what a rover's accepted login looks like, and the process to measure.
struct Caster {
    std::string name;
    int roverPort = 0;
    int basePort = 0;
    std::string baseLogin;  // sent by the base first; "" for a raw input port
    std::string reply;      // a rover's accepted login reply
    pid_t pid = -1;
    int inspectorPort = 0;  // vorlane's HTTP inspector; 0 for none
    int controlPort = 0;    // vorlane's control port; 0 for none
};

// What one run measured, for the comparison of the targets at one N.
struct Result {
    std::string name;
    int rovers = 0;
    bool good = false;
    bool allDelivered = false;
    double p50 = 0, p99 = 0, lastP99 = 0;
    double cpuUsPerChunk = 0;  // caster CPU per chunk delivered to one rover
    double coreShare = 0;      // caster CPU while streaming, share of one core
    double idleKbPerRover = 0;
    double peakKbPerRover = 0;
    double loginsPerSecond = 0;  // with --login-rate
};

// ---- CPUs: the casters on one set, the clients on the rest -----------------

std::vector<int> AllowedCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> out;
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return out;
    for (int i = 0; i < CPU_SETSIZE; ++i) {
        if (CPU_ISSET(i, &set)) out.push_back(i);
    }
    return out;
}

// "0-3,6" as a list of CPUs.
std::vector<int> ParseCpus(const char* text)
{
    std::vector<int> out;
    std::string s(text);
    size_t at = 0;
    while (at < s.size()) {
        size_t comma = s.find(',', at);
        std::string part = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        size_t dash = part.find('-');
        int from = atoi(part.c_str()), to = dash == std::string::npos ? from : atoi(part.c_str() + dash + 1);
        for (int c = from; c <= to; ++c) out.push_back(c);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

void PinTo(const std::vector<int>& cpus)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int c : cpus) CPU_SET(c, &set);
    if (!cpus.empty() && sched_setaffinity(0, sizeof(set), &set) != 0) perror("sched_setaffinity");
}

std::string CpuText(const std::vector<int>& cpus)
{
    std::string t;
    for (int c : cpus) t += (t.empty() ? "" : ",") + std::to_string(c);
    return t;
}

// ---- starting the casters ----------------------------------------------------

// ---- rovers that come and go, and the control centres that hear of them -----

struct ChurnStats {
    std::atomic<int> logins{0};
};

// R rover logins per second, each closed right after its reply.
void ChurnRovers(int port, int perSecond, const std::atomic<bool>* stop, ChurnStats* stats)
{
    uint64_t start = NowNs(), step = 1000000000ull / static_cast<uint64_t>(perSecond);
    for (uint64_t k = 0; !stop->load(); ++k) {
        uint64_t at = start + k * step, now = NowNs();
        if (at > now) std::this_thread::sleep_for(std::chrono::nanoseconds(at - now));
        int fd = Connect(port);
        if (fd < 0) continue;
        char user[32];
        snprintf(user, sizeof(user), "churn%07llu", static_cast<unsigned long long>(k));
        std::string request = NtripTexts::GetRequest("MNT1", user, "bench"), reply;
        if (WriteAll(fd, request.data(), request.size()) && ReadExactly(fd, &reply, NtripTexts::kIcyOk.size(), 2000) &&
            reply == NtripTexts::kIcyOk) {
            ++stats->logins;
        }
        close(fd);
    }
}

// Login after login on one connection at a time, each closed right after its
// reply, until stop: the rate a caster takes rovers in.
struct LoginStats {
    uint64_t ok = 0;
    uint64_t failed = 0;
    Histogram ms;  // from the connect to the whole reply
};

void LogInAndOut(int port, std::string expected, unsigned client, const std::atomic<bool>* stop, LoginStats* stats)
{
    std::string reply;
    for (uint64_t k = 0; !stop->load(); ++k) {
        uint64_t t0 = NowNs();
        int fd = Connect(port);
        if (fd < 0) {
            ++stats->failed;
            continue;
        }
        char user[40];
        snprintf(user, sizeof(user), "login%02u-%08llu", client, static_cast<unsigned long long>(k));
        std::string request = NtripTexts::GetRequest("MNT1", user, "bench");
        if (WriteAll(fd, request.data(), request.size()) && ReadExactly(fd, &reply, expected.size(), 5000) &&
            reply == expected) {
            ++stats->ok;
            stats->ms.Add(NowNs() - t0);
        } else {
            ++stats->failed;
        }
        close(fd);
    }
}

struct CtrlStats {
    std::atomic<long> notices{0};
    std::atomic<long> heartbeats{0};
    std::atomic<int> loggedIn{0};
};

void ListenAsCentre(int port, const std::atomic<bool>* stop, CtrlStats* stats)
{
    CtrlCenterClient centre;
    if (!centre.Connect(port)) return;
    if (centre.Login(kBenchOperator, kBenchOperatorPassword) != 20) return;
    ++stats->loggedIn;
    CtrlWire::Received r;
    while (!stop->load()) {
        if (!centre.Next(&r, 200)) {
            if (centre.BadFrameSeen() || centre.Raw().PeerClosed()) return;
            continue;
        }
        if (r.type == CtrlCenterClient::HEARTBEAT) {
            ++stats->heartbeats;
        } else {
            ++stats->notices;
        }
    }
}

bool StartVorlane(VorlaneInstance* vorlane, Caster* c)
{
    vorlane->SetNtrip("base_login_mode", 1);
    vorlane->SetNtrip("rover_login_mode", 1);
    // The base sends nothing while thousands of rovers log in, which can take
    // longer than the default 10 s on a busy machine.
    vorlane->SetNtrip("base_offline_time", 3600);
    vorlane->AddOperatorAccount(kBenchOperator, kBenchOperatorPassword);
    if (!vorlane->Ready() || !vorlane->Start()) {
        fprintf(stderr, "vorlane did not start\n%s\n", vorlane->Diagnostics().c_str());
        return false;
    }
    c->name = "vorlane";
    c->roverPort = c->basePort = vorlane->CasterPort();
    c->baseLogin = NtripTexts::SourceRequest("bench", "MNT1");
    c->reply = NtripTexts::kIcyOk;
    c->pid = vorlane->Pid();
    c->inspectorPort = vorlane->HttpPort();
    c->controlPort = vorlane->ControlPort();
    return true;
}

void TwoFreePorts(Caster* c)
{
    c->basePort = TestClient_FreePort();
    c->roverPort = TestClient_FreePort();
    while (c->roverPort == c->basePort) c->roverPort = TestClient_FreePort();
}

bool StartStr2Str(ChildProcess* process, const TempDir& dir, Caster* c)
{
    c->name = "str2str";
    TwoFreePorts(c);
    if (!process->Spawn({"str2str", "-in", "tcpsvr://:" + std::to_string(c->basePort), "-out",
                         "ntripc://:" + std::to_string(c->roverPort) + "/MNT1"},
                        dir.Path(), dir.File("str2str.out"), dir.File("str2str.err"))) {
        fprintf(stderr, "str2str cannot be run (Debian package rtklib)\n");
        return false;
    }
    // No probe of the rover port: a probe would take one of its few client slots.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    c->baseLogin = "";
    c->reply = "ICY 200 OK\r\n";
    c->pid = process->Pid();
    return process->Running();
}

// Waits for a reference broadcaster's "listening" line in its output.
bool WaitListening(ChildProcess* process, const std::string& out)
{
    for (int i = 0; i < 500; ++i) {
        FILE* f = fopen(out.c_str(), "r");
        char line[64] = {0};
        bool listening = f && fgets(line, sizeof(line), f) && strncmp(line, "listening", 9) == 0;
        if (f) fclose(f);
        if (listening) break;
        if (!process->Running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return process->Running();
}

bool StartEpoll(ChildProcess* process, const TempDir& dir, Caster* c)
{
    c->name = "epoll";
    TwoFreePorts(c);
    std::string out = dir.File("epoll.out");
    if (!process->Spawn({EPOLL_BROADCASTER_PATH, std::to_string(c->basePort), std::to_string(c->roverPort)},
                        dir.Path(), out, dir.File("epoll.err"))) {
        fprintf(stderr, "%s cannot be run\n", EPOLL_BROADCASTER_PATH);
        return false;
    }
    c->baseLogin = "";
    c->reply = NtripTexts::kIcyOk;
    c->pid = process->Pid();
    return WaitListening(process, out);
}

// One port, as the caster: the base logs in with SOURCE, rovers with GET.
bool StartBlocking(ChildProcess* process, const TempDir& dir, Caster* c)
{
    c->name = "blocking";
    c->roverPort = c->basePort = TestClient_FreePort();
    std::string out = dir.File("blocking.out");
    if (!process->Spawn({BLOCKING_BROADCASTER_PATH, std::to_string(c->roverPort)}, dir.Path(), out,
                        dir.File("blocking.err"))) {
        fprintf(stderr, "%s cannot be run\n", BLOCKING_BROADCASTER_PATH);
        return false;
    }
    c->baseLogin = NtripTexts::SourceRequest("bench", "MNT1");
    c->reply = NtripTexts::kIcyOk;
    c->pid = process->Pid();
    return WaitListening(process, out);
}

// ---- one run -------------------------------------------------------------------

Result RunOne(const Options& o, const Caster& caster, int n)
{
    Result result;
    result.name = caster.name;
    result.rovers = n;
    long baselineKb = ProcessMemoryKb(caster.pid, "VmRSS");
    int base = Connect(caster.basePort);
    if (base < 0) {
        fprintf(stderr, "%s: the base cannot connect\n", caster.name.c_str());
        return result;
    }
    if (!caster.baseLogin.empty()) {
        std::string reply;
        if (!WriteAll(base, caster.baseLogin.data(), caster.baseLogin.size()) ||
            !ReadExactly(base, &reply, NtripTexts::kIcyOk.size(), 5000) || reply != NtripTexts::kIcyOk) {
            fprintf(stderr, "%s: the base login failed\n", caster.name.c_str());
            return result;
        }
    }

    // The counters live in memory the reader processes share.
    void* liveMemory = mmap(nullptr, sizeof(Live), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (liveMemory == MAP_FAILED) {
        perror("mmap");
        return result;
    }
    Shared shared;
    shared.chunk = o.chunk;
    shared.expectedReply = caster.reply;
    shared.live = new (liveMemory) Live();
    Live& live = *shared.live;
    struct Unmap {
        void* memory;
        ~Unmap() { munmap(memory, sizeof(Live)); }
    } unmap{liveMemory};
    std::vector<Rover> rovers(static_cast<size_t>(n));
    uint64_t loginStart = NowNs();
    for (int i = 0; i < n; ++i) {
        Rover& r = rovers[static_cast<size_t>(i)];
        r.fd = Connect(caster.roverPort);
        char user[32];
        snprintf(user, sizeof(user), "rover%05d", i);  // one user each: a second login would replace the first
        std::string request = NtripTexts::GetRequest("MNT1", user, "bench");
        if (r.fd < 0 || !WriteAll(r.fd, request.data(), request.size())) {
            fprintf(stderr, "%s: rover %d cannot connect: %s\n", caster.name.c_str(), i, strerror(errno));
            return result;
        }
    }
    unsigned processes = static_cast<unsigned>(std::min(n, kReaderProcesses));
    std::vector<ReaderProcess> readers = StartReaders(&rovers, &shared, base, processes);
    if (readers.size() != processes) {
        fprintf(stderr, "%s: only %zu of %u reader processes started\n", caster.name.c_str(), readers.size(),
                processes);
    }
    uint64_t loginDeadline = NowNs() + 60000000000ull;
    while (live.ready.load() + live.closed.load() < n && NowNs() < loginDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    double loginSeconds = (NowNs() - loginStart) / 1e9;
    int loggedIn = live.ready.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // subscriptions follow the replies
    long idleKb = ProcessMemoryKb(caster.pid, "VmRSS");

    bool polling = o.pollInspector && caster.inspectorPort > 0;
    if (polling && !WaitInspector(caster.inspectorPort)) {
        fprintf(stderr, "%s: the HTTP inspector never listened\n", caster.name.c_str());
        return result;
    }
    std::atomic<bool> pollStop{false};
    PollStats polls;
    std::thread poller;
    if (polling) poller = std::thread(PollInspector, caster.inspectorPort, loggedIn, &pollStop, &polls);
    bool querying = o.queryControl && caster.controlPort > 0;
    if (querying && !WaitInspector(caster.controlPort)) {
        fprintf(stderr, "%s: the control port never listened\n", caster.name.c_str());
        return result;
    }
    ControlStats queries;
    std::thread querier;
    if (querying) querier = std::thread(QueryControl, caster.controlPort, loggedIn, &pollStop, &queries);

    CtrlStats ctrl;
    std::vector<std::thread> centres;
    int wantedCentres = caster.controlPort > 0 ? o.ctrlClients : 0;
    for (int i = 0; i < wantedCentres; ++i) centres.emplace_back(ListenAsCentre, caster.controlPort, &pollStop, &ctrl);
    for (int i = 0; i < 100 && ctrl.loggedIn.load() < wantedCentres; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ChurnStats churn;
    std::thread churner;
    if (o.churnPerSecond > 0) churner = std::thread(ChurnRovers, caster.roverPort, o.churnPerSecond, &pollStop, &churn);
    bool loggingIn = o.loginRate && caster.name != "str2str";  // str2str has too few client slots
    std::vector<LoginStats> logins(loggingIn ? static_cast<size_t>(o.loginClients) : 0);
    std::vector<std::thread> loginThreads;
    for (size_t i = 0; i < logins.size(); ++i) {
        loginThreads.emplace_back(LogInAndOut, caster.roverPort, caster.reply, static_cast<unsigned>(i), &pollStop,
                                  &logins[i]);
    }

    // Stream, paced: one chunk every interval.
    std::vector<unsigned char> chunk(o.chunk);
    for (size_t i = HEADER; i < o.chunk; ++i) chunk[i] = static_cast<unsigned char>(i * 7);
    if (o.chunk > HEADER) chunk[HEADER] = 0xD3;  // looks like the start of an RTCM 3 frame
    uint64_t sent = 0, seq = 0;
    double cpuStart = ProcessCpuSeconds(caster.pid);
    uint64_t start = NowNs(), end = start + static_cast<uint64_t>(o.seconds * 1e9);
    while (NowNs() < end) {
        uint64_t stamp = NowNs();
        memcpy(chunk.data(), &stamp, 8);
        memcpy(chunk.data() + 8, &seq, 8);
        if (!WriteAll(base, chunk.data(), chunk.size())) break;
        sent += chunk.size();
        ++seq;
        uint64_t next = start + seq * static_cast<uint64_t>(o.intervalMs) * 1000000ull;
        uint64_t now = NowNs();
        if (next > now) std::this_thread::sleep_for(std::chrono::nanoseconds(next - now));
        // What the caster sends the base (keep-alives) is read off now and then.
        char drain[256];
        while (recv(base, drain, sizeof(drain), MSG_DONTWAIT) > 0) {
        }
    }
    double streamSeconds = (NowNs() - start) / 1e9;
    pollStop = true;
    if (poller.joinable()) poller.join();
    if (querier.joinable()) querier.join();
    if (churner.joinable()) churner.join();
    for (std::thread& t : centres) t.join();
    for (std::thread& t : loginThreads) t.join();

    // Let the last chunks arrive: stop once every rover has them all or
    // nothing has moved for two seconds.
    uint64_t expected = sent * static_cast<uint64_t>(loggedIn);
    AwaitDelivery(live.delivered, expected);
    double cpuEnd = ProcessCpuSeconds(caster.pid);
    long peakKb = ProcessMemoryKb(caster.pid, "VmHWM");
    live.stop = true;
    std::vector<ReaderStats> stats;
    bool readersReported = JoinReaders(readers, &stats) && readers.size() == processes;
    close(base);

    Histogram all, last;
    std::vector<uint64_t> lastBySeq;
    uint64_t orderErrors = 0, badReplies = 0;
    for (const ReaderStats& s : stats) {
        orderErrors += s.orderErrors;
        badReplies += s.badReplies;
        all.Merge(s.perRover);
        if (lastBySeq.size() < s.lastBySeq.size()) lastBySeq.resize(s.lastBySeq.size(), 0);
        for (size_t i = 0; i < s.lastBySeq.size(); ++i) lastBySeq[i] = std::max(lastBySeq[i], s.lastBySeq[i]);
    }
    for (uint64_t ns : lastBySeq) {
        if (ns > 0) last.Add(ns);
    }
    uint64_t delivered = live.delivered.load();
    int closedRovers = live.closed.load();
    double streamCpu = cpuEnd - cpuStart;
    double chunksDelivered = static_cast<double>(delivered) / static_cast<double>(o.chunk);
    printf("%s N=%d chunk=%zu B every %d ms, %.1f s\n", caster.name.c_str(), n, o.chunk, o.intervalMs, streamSeconds);
    printf("  rovers logged in %d of %d in %.2f s (bad replies %llu, closed %d), read by %zu processes%s\n", loggedIn, n,
           loginSeconds, static_cast<unsigned long long>(badReplies), closedRovers, readers.size(),
           readersReported ? "" : " (NOT ALL REPORTED)");
    printf("  bytes sent %llu, expected at rovers %llu, delivered %llu: %s; order errors %llu\n",
           static_cast<unsigned long long>(sent), static_cast<unsigned long long>(expected),
           static_cast<unsigned long long>(delivered), delivered == expected ? "equal" : "NOT EQUAL",
           static_cast<unsigned long long>(orderErrors));
    printf("  latency ms: p50 %.2f  p99 %.2f  max %.2f  (%llu samples); last rover of a chunk: p50 %.2f  p99 %.2f  "
           "max %.2f\n",
           all.QuantileMs(0.5), all.QuantileMs(0.99), all.maxNs / 1e6, static_cast<unsigned long long>(all.count),
           last.QuantileMs(0.5), last.QuantileMs(0.99), last.maxNs / 1e6);
    printf("  caster CPU s: %.2f while streaming (%.1f%% of one core, %.2f us per chunk delivered to a rover)\n",
           streamCpu, streamSeconds > 0 ? 100.0 * streamCpu / streamSeconds : 0.0,
           chunksDelivered > 0 ? 1e6 * streamCpu / chunksDelivered : 0.0);
    printf("  caster RSS KB: before the logins %ld, idle rovers %ld, peak %ld; per rover idle %.1f, peak %.1f\n",
           baselineKb, idleKb, peakKb, n > 0 ? static_cast<double>(idleKb - baselineKb) / n : 0.0,
           n > 0 ? static_cast<double>(peakKb - baselineKb) / n : 0.0);
    if (polling) {
        std::sort(polls.ms.begin(), polls.ms.end());
        double median = polls.ms.empty() ? 0 : polls.ms[polls.ms.size() / 2];
        double slowest = polls.ms.empty() ? 0 : polls.ms.back();
        printf("  inspector /xqn_rover_info: %d polls, %d answered with all %d rovers; answer ms p50 %.1f max %.1f; "
               "%zu bytes each\n",
               polls.polls, polls.answered, loggedIn, median, slowest, polls.bodyBytes);
    }
    if (querying) {
        printf("  control lists (logged in: %s), %d asks: type 5 all %d rovers complete %d, ms p50 %.1f max %.1f "
               "(%zu frames, %zu bytes); type 6 page of 20 complete %d, ms p50 %.1f max %.1f\n",
               queries.loggedIn ? "yes" : "NO", queries.asks, loggedIn, queries.listsComplete, Median(queries.listMs),
               Slowest(queries.listMs), queries.listFrames, queries.listBytes, queries.pagesComplete,
               Median(queries.pageMs), Slowest(queries.pageMs));
    }
    if (o.churnPerSecond > 0) {
        printf("  churn: %d rover logins and logouts (%.0f per second)\n", churn.logins.load(),
               churn.logins.load() / streamSeconds);
    }
    LoginStats loginTotal;
    for (const LoginStats& l : logins) {
        loginTotal.ok += l.ok;
        loginTotal.failed += l.failed;
        loginTotal.ms.Merge(l.ms);
    }
    double loginsPerSecond = streamSeconds > 0 ? loginTotal.ok / streamSeconds : 0.0;
    if (loggingIn) {
        printf("  login rate: %llu rover logins and logouts in %.1f s from %zu connections in parallel: %.0f per second "
               "(%llu failed); login ms p50 %.2f p99 %.2f max %.2f\n",
               static_cast<unsigned long long>(loginTotal.ok), streamSeconds, logins.size(), loginsPerSecond,
               static_cast<unsigned long long>(loginTotal.failed), loginTotal.ms.QuantileMs(0.5),
               loginTotal.ms.QuantileMs(0.99), loginTotal.ms.maxNs / 1e6);
    }
    if (wantedCentres > 0) {
        printf("  control centres: %d logged in, %ld notifications and %ld heartbeats received in all\n",
               ctrl.loggedIn.load(), ctrl.notices.load(), ctrl.heartbeats.load());
    }
    fflush(stdout);

    result.allDelivered = delivered == expected && loggedIn == n;
    result.good = result.allDelivered && readersReported && badReplies == 0 && orderErrors == 0 &&
                  (!loggingIn || (loginTotal.ok > 0 && loginTotal.failed == 0)) &&
                  (!polling || (polls.polls > 0 && polls.answered == polls.polls)) &&
                  (!querying || (queries.asks > 0 && queries.listsComplete == queries.asks &&
                                 queries.pagesComplete == queries.asks));
    result.p50 = all.QuantileMs(0.5);
    result.p99 = all.QuantileMs(0.99);
    result.lastP99 = last.QuantileMs(0.99);
    result.cpuUsPerChunk = chunksDelivered > 0 ? 1e6 * streamCpu / chunksDelivered : 0.0;
    result.coreShare = streamSeconds > 0 ? streamCpu / streamSeconds : 0.0;
    result.idleKbPerRover = n > 0 ? static_cast<double>(idleKb - baselineKb) / n : 0.0;
    result.peakKbPerRover = n > 0 ? static_cast<double>(peakKb - baselineKb) / n : 0.0;
    result.loginsPerSecond = loggingIn ? loginsPerSecond : 0.0;
    return result;
}

int RunDrop(const Caster& caster, int n);

Result RunTarget(const Options& o, const std::string& target, int n, const std::vector<int>& serverCpus,
                 const std::vector<int>& clientCpus)
{
    Result result;
    result.name = target;
    // Children take the CPUs of the moment they are made.
    PinTo(serverCpus);
    if (target.compare(0, 7, "vorlane") == 0) {
        // "vorlane-before=/path/to/vorlane" runs another build of the caster.
        size_t equals = target.find('=');
        std::string saved = getenv("VORLANE_BIN") ? getenv("VORLANE_BIN") : "";
        if (equals != std::string::npos) setenv("VORLANE_BIN", target.c_str() + equals + 1, 1);
        VorlaneInstance vorlane;
        if (equals != std::string::npos) setenv("VORLANE_BIN", saved.c_str(), 1);
        Caster caster;
        bool started = StartVorlane(&vorlane, &caster);
        caster.name = target.substr(0, equals);
        PinTo(clientCpus);
        if (started && o.drop) {
            result.rovers = n;
            result.good = RunDrop(caster, n) == 0;
        } else if (started) {
            result = RunOne(o, caster, n);
        }
        if (started && !result.good) {
            // Its folder goes with it: keep what it wrote.
            std::string path = "/tmp/caster_fanout-" + caster.name + "-" + std::to_string(n) + ".txt";
            FILE* f = fopen(path.c_str(), "w");
            if (f) {
                std::string d = vorlane.Diagnostics();
                fwrite(d.data(), 1, d.size(), f);
                fclose(f);
                fprintf(stderr, "%s: its log and output are in %s\n", caster.name.c_str(), path.c_str());
            }
        }
        ExitStatus status = vorlane.Stop();
        if (!status.Success()) fprintf(stderr, "vorlane at its stop: %s\n", status.Describe().c_str());
    } else if (target == "epoll" || target == "blocking" || target == "str2str") {
        TempDir dir;
        ChildProcess process;
        Caster caster;
        int m = n;
        bool started;
        if (target == "epoll") {
            started = StartEpoll(&process, dir, &caster);
        } else if (target == "blocking") {
            started = StartBlocking(&process, dir, &caster);
        } else {
            m = std::min(n, kStr2StrMaxRovers);
            if (m < n) printf("(str2str serves at most %d rovers: run with %d of %d)\n", kStr2StrMaxRovers, m, n);
            started = StartStr2Str(&process, dir, &caster);
        }
        PinTo(clientCpus);
        if (started) result = RunOne(o, caster, m);
        process.Stop(SIGTERM, 3000);
    } else {
        PinTo(clientCpus);
        fprintf(stderr, "unknown target %s\n", target.c_str());
    }
    return result;
}

// "1.23x", or "-" when the reference has no figure.
std::string Ratio(double value, double reference)
{
    if (reference <= 0) return "-";
    char text[32];
    snprintf(text, sizeof(text), "%.2fx", value / reference);
    return text;
}

// The figures of every target at one N, then each target's ratios to both
// floors (the epoll and the blocking broadcaster) that ran.
void PrintComparison(const std::vector<Result>& results, bool loginRate)
{
    printf("| caster | N | delivered = sent x N | p50 / p99 ms | last rover p99 ms | CPU us per delivered chunk | "
           "CPU of one core | RSS KB per rover idle / peak |%s\n",
           loginRate ? " logins per second |" : "");
    for (const Result& r : results) {
        printf("| %s | %d | %s | %.2f / %.2f | %.1f | %.2f | %.0f %% | %.1f / %.1f |", r.name.c_str(), r.rovers,
               r.allDelivered ? "yes" : "NO", r.p50, r.p99, r.lastP99, r.cpuUsPerChunk, 100 * r.coreShare,
               r.idleKbPerRover, r.peakKbPerRover);
        if (loginRate) printf(" %.0f |", r.loginsPerSecond);
        printf("\n");
    }
    for (const char* reference : {"epoll", "blocking"}) {
        const Result* floor = nullptr;
        for (const Result& r : results) {
            if (r.name == reference) floor = &r;
        }
        if (!floor) continue;
        for (const Result& r : results) {
            if (&r == floor) continue;
            printf("  %s / %s at N=%d: p99 %s, CPU per delivered chunk %s", r.name.c_str(), reference, r.rovers,
                   Ratio(r.p99, floor->p99).c_str(), Ratio(r.cpuUsPerChunk, floor->cpuUsPerChunk).c_str());
            if (loginRate) printf(", logins per second %s", Ratio(r.loginsPerSecond, floor->loginsPerSecond).c_str());
            printf("\n");
        }
    }
    fflush(stdout);
}

std::vector<std::string> ParseTargets(const std::string& text)
{
    if (text == "both") return {"vorlane", "str2str"};
    if (text == "all") return {"vorlane", "epoll", "blocking", "str2str"};
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        std::string part = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!part.empty()) out.push_back(part);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}


// ---- drop and relog: what the loop spends when a base's rovers all leave --------

// A second base streams a small stamped chunk every 2 ms to one probe rover;
// the longest gap the probe sees is the longest stretch in which the loop
// served nobody.
struct Probe {
    int base = -1;
    int rover = -1;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> windowStart{0};
    std::atomic<uint64_t> maxGapNs{0};
};

void ProbeSender(Probe* p)
{
    unsigned char stamp[8] = {0};
    while (!p->stop.load()) {
        if (!WriteAll(p->base, stamp, sizeof(stamp))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        char drain[256];
        while (recv(p->base, drain, sizeof(drain), MSG_DONTWAIT) > 0) {
        }
    }
}

void ProbeReader(Probe* p)
{
    timeval tv{0, 100000};
    setsockopt(p->rover, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    uint64_t last = NowNs();
    char buffer[4096];
    while (!p->stop.load()) {
        ssize_t r = recv(p->rover, buffer, sizeof(buffer), 0);
        uint64_t now = NowNs();
        if (r == 0) return;
        if (r < 0) continue;
        uint64_t from = std::max(last, p->windowStart.load());
        if (now > from && now - from > p->maxGapNs.load()) p->maxGapNs = now - from;
        last = now;
    }
}

bool LogInBase(int port, const std::string& mount, int* fd)
{
    *fd = Connect(port);
    std::string request = NtripTexts::SourceRequest("bench", mount), reply;
    return *fd >= 0 && WriteAll(*fd, request.data(), request.size()) &&
           ReadExactly(*fd, &reply, NtripTexts::kIcyOk.size(), 5000) && reply == NtripTexts::kIcyOk;
}

// Logs n rovers in on MNT1 (all requests first, then the replies); the count accepted.
int LogInRovers(int port, std::vector<int>* fds, int n)
{
    fds->assign(static_cast<size_t>(n), -1);
    for (int i = 0; i < n; ++i) {
        char user[32];
        snprintf(user, sizeof(user), "rover%05d", i);
        std::string request = NtripTexts::GetRequest("MNT1", user, "bench");
        int fd = Connect(port);
        (*fds)[static_cast<size_t>(i)] = fd;
        if (fd >= 0) WriteAll(fd, request.data(), request.size());
    }
    int ok = 0;
    for (int fd : *fds) {
        std::string reply;
        if (fd >= 0 && ReadExactly(fd, &reply, NtripTexts::kIcyOk.size(), 30000) && reply == NtripTexts::kIcyOk) {
            ++ok;
        } else if (getenv("BENCH_DEBUG")) {
            fprintf(stderr, "fd %d reply [%s] errno %s\n", fd, reply.c_str(), strerror(errno));
        }
    }
    return ok;
}

// CPU seconds the caster spends in `seconds` after `start`, less what it
// spends idle (the probe stream) in as long.
double CpuOver(pid_t pid, double cpuAtStart, double seconds, double idlePerSecond)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
    return ProcessCpuSeconds(pid) - cpuAtStart - idlePerSecond * seconds;
}

int RunDrop(const Caster& caster, int n)
{
    Probe probe;
    int mnt1 = -1;
    if (!LogInBase(caster.basePort, "MNT1", &mnt1) || !LogInBase(caster.basePort, "PROBE", &probe.base)) {
        fprintf(stderr, "%s: a base login failed\n", caster.name.c_str());
        return 1;
    }
    probe.rover = Connect(caster.roverPort);
    std::string request = NtripTexts::GetRequest("PROBE", "probe", "bench"), reply;
    if (probe.rover < 0 || !WriteAll(probe.rover, request.data(), request.size()) ||
        !ReadExactly(probe.rover, &reply, NtripTexts::kIcyOk.size(), 5000) || reply != NtripTexts::kIcyOk) {
        fprintf(stderr, "%s: the probe rover's login failed\n", caster.name.c_str());
        return 1;
    }
    std::thread sender(ProbeSender, &probe), reader(ProbeReader, &probe);

    std::vector<int> fds;
    int first = LogInRovers(caster.roverPort, &fds, n);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const double window = 3.0;
    double idleStart = ProcessCpuSeconds(caster.pid);
    double idle = CpuOver(caster.pid, idleStart, window, 0) / window;

    // Every rover of MNT1 leaves at once; MNT1 stays.
    probe.maxGapNs = 0;
    probe.windowStart = NowNs();
    double cpu0 = ProcessCpuSeconds(caster.pid);
    for (int& fd : fds) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    double dropCpu = CpuOver(caster.pid, cpu0, window, idle);
    double dropGap = probe.maxGapNs.load() / 1e6;

    // And all log in again.
    probe.maxGapNs = 0;
    probe.windowStart = NowNs();
    double cpu1 = ProcessCpuSeconds(caster.pid);
    uint64_t t1 = NowNs();
    int again = LogInRovers(caster.roverPort, &fds, n);
    double relogSeconds = (NowNs() - t1) / 1e9;
    double relogCpu = ProcessCpuSeconds(caster.pid) - cpu1 - idle * relogSeconds;
    double relogGap = probe.maxGapNs.load() / 1e6;

    probe.stop = true;
    sender.join();
    reader.join();
    for (int fd : fds) {
        if (fd >= 0) close(fd);
    }
    close(probe.rover);
    close(probe.base);
    close(mnt1);
    printf("%s drop and relog, N=%d (logged in %d, then %d)\n", caster.name.c_str(), n, first, again);
    printf("  drop:  caster CPU %.3f s beyond idle; longest gap of another base's stream %.1f ms\n", dropCpu,
           dropGap);
    printf("  relog: %.2f s for all logins, caster CPU %.3f s beyond idle; longest gap %.1f ms\n", relogSeconds,
           relogCpu, relogGap);
    fflush(stdout);
    return first == n && again == n ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--rate") {
            // A rover's real rate: one 3 KiB epoch a second.
            o.counts = {10000};
            o.chunk = 3072;
            o.intervalMs = 1000;
            o.seconds = 30;
        }
    }
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--rate") {
        } else if (a == "--rovers" && v) {
            o.counts = ParseCounts(v);
            ++i;
        } else if (a == "--chunk" && v) {
            o.chunk = static_cast<size_t>(atol(v));
            ++i;
        } else if (a == "--interval-ms" && v) {
            o.intervalMs = atoi(v);
            ++i;
        } else if (a == "--seconds" && v) {
            o.seconds = atof(v);
            ++i;
        } else if (a == "--churn" && v) {
            o.churnPerSecond = atoi(v);
            ++i;
        } else if (a == "--ctrl-clients" && v) {
            o.ctrlClients = atoi(v);
            ++i;
        } else if (a == "--poll-inspector") {
            o.pollInspector = true;
        } else if (a == "--query-control") {
            o.queryControl = true;
        } else if (a == "--drop") {
            o.drop = true;
        } else if (a == "--login-rate") {
            o.loginRate = true;
        } else if (a == "--login-clients" && v) {
            o.loginClients = atoi(v);
            ++i;
        } else if (a == "--target" && v) {
            o.targets = ParseTargets(v);
            ++i;
        } else if (a == "--server-cpus" && v) {
            o.serverCpus = ParseCpus(v);
            ++i;
        } else {
            fprintf(stderr,
                    "usage: caster_fanout [--rovers 1000,5000,10000] [--chunk 1024] [--interval-ms 100] "
                    "[--seconds 10] [--target vorlane,epoll,blocking,str2str] [--server-cpus 0-3] [--rate] "
                    "[--poll-inspector] [--churn 100] [--ctrl-clients 2] [--query-control] [--drop] "
                    "[--login-rate] [--login-clients 8]\n");
            return 1;
        }
    }
    if (o.chunk < HEADER || o.intervalMs <= 0 || o.loginClients <= 0) {
        fprintf(stderr, "chunk must be at least %zu bytes, interval and login clients positive\n", HEADER);
        return 1;
    }
    rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    for (int n : o.counts) {
        // The rovers' ends here, the caster's in its own process.
        if (static_cast<rlim_t>(n + 256) > rl.rlim_cur) {
            fprintf(stderr, "N=%d needs %d open files, the limit is %llu: raise it (ulimit -n 65536)\n", n,
                    n + 256, static_cast<unsigned long long>(rl.rlim_cur));
            return 1;
        }
    }

    std::vector<int> allowed = AllowedCpus(), serverCpus = o.serverCpus, clientCpus;
    if (serverCpus.empty()) serverCpus.assign(allowed.begin(), allowed.begin() + (allowed.size() + 1) / 2);
    for (int c : allowed) {
        if (std::find(serverCpus.begin(), serverCpus.end(), c) == serverCpus.end()) clientCpus.push_back(c);
    }
    if (clientCpus.empty()) clientCpus = allowed;
    printf("casters on CPUs %s, base and rovers on CPUs %s\n", CpuText(serverCpus).c_str(),
           CpuText(clientCpus).c_str());

    int worst = 0;
    for (int n : o.counts) {
        std::vector<Result> results;
        for (const std::string& target : o.targets) {
            if (o.drop && target.compare(0, 7, "vorlane") != 0) continue;  // no drop run against a reference
            results.push_back(RunTarget(o, target, n, serverCpus, clientCpus));
            if (!results.back().good) worst = std::max(worst, results.back().rovers == 0 ? 1 : 2);
        }
        if (!o.drop) PrintComparison(results, o.loginRate);
    }
    return worst;
}
