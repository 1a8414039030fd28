// Fan-out benchmark of the network layer: one publisher connection streams
// RTCM-sized chunks through a real NHServer, which broadcasts them to N
// subscriber connections on loopback, the way a base's stream reaches its
// rovers.
//
// The server runs in a child process of its own, so its CPU time and peak
// memory are measured apart from the clients. Each chunk carries the
// monotonic time at which the publisher wrote it and a sequence number; a
// subscriber's latency for a chunk runs from that write to the read that
// completes the chunk.
//
//   fanout [--subscribers 100,1000,5000] [--mode paced|saturate|both]
//          [--chunk 1024] [--interval-ms 100] [--seconds 10]
//
// paced: one chunk every interval; saturate: chunks back to back for the
// given seconds, as fast as the server takes them.
#include "common/FanoutMeasure.h"
#include "net/NHServer.h"
#include "platform/Process.h"
#include "runtime/Log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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

double CpuSeconds()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

long ResidentKb()
{
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f) return 0;
    long size = 0, resident = 0;
    if (fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    fclose(f);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}



// ---- the server process ---------------------------------------------------

struct ServerReport {
    int port;
    double cpuAtStart;    // when the first publisher bytes arrived
    double cpuAtEnd;
    long baselineKb;      // resident before any connection
    long peakKb;          // ru_maxrss
    uint32_t limitCloses; // subscribers closed by command (the unsent limit)
};

struct ServerState {
    NHServer* server = nullptr;
    uint64_t publisher = 0;
    int controlFd = -1;
    int reportFd = -1;
    bool portSent = false;
    ServerReport report{};
} g_server;

void ServerOpen(uint64_t id, const char*, int, int)
{
    if (g_server.publisher == 0) {
        g_server.publisher = id;
        NHServer_PostAddPublisher(g_server.server, id);
        NHServer_PostSend(g_server.server, id, "P", 1);
    } else {
        NHServer_PostSubscribe(g_server.server, g_server.publisher, id);
        NHServer_PostSend(g_server.server, id, "R", 1);  // runs after the subscribe
    }
}

void ServerClose(uint64_t, int reason)
{
    if (reason == TCP_CONNECTION_CLOSE_BY_COMMAND) ++g_server.report.limitCloses;
}

void ServerRead(uint64_t id, const char* bytes, int length)
{
    if (id != g_server.publisher) return;
    if (g_server.report.cpuAtStart == 0) g_server.report.cpuAtStart = CpuSeconds();
    NHServer_Broadcast(g_server.server, id, bytes, static_cast<size_t>(length));
}

void ServerTimer(int, void*)
{
    if (!g_server.portSent) {
        int port = NHServer_ListenPort(g_server.server);
        if (port == 0) return;
        g_server.report.baselineKb = ResidentKb();
        g_server.report.port = port;
        Bench::WriteAll(g_server.reportFd, &port, sizeof(port));
        g_server.portSent = true;
    }
    char c;
    if (read(g_server.controlFd, &c, 1) == 1) NHServer_Destroy(g_server.server);
}

int RunServer(int controlFd, int reportFd)
{
    char dir[] = "/tmp/vorlane-fanout-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string prefix = std::string(dir) + "/fanout";
    Log_Init(prefix.c_str());

    g_server.controlFd = controlFd;
    g_server.reportFd = reportFd;
    fcntl(controlFd, F_SETFL, O_NONBLOCK);
    NHServerCallbacks callbacks = {};
    callbacks.open = ServerOpen;
    callbacks.close = ServerClose;
    callbacks.read = ServerRead;
    g_server.server = NHServer_Create(&callbacks);
    NHServer_SetTimer(g_server.server, ServerTimer, 20, nullptr);
    int result = NHServer_Run(g_server.server, "127.0.0.1", 0, NHSERVER_MODE_LISTEN);

    g_server.report.cpuAtEnd = CpuSeconds();
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    g_server.report.peakKb = ru.ru_maxrss;
    Bench::WriteAll(reportFd, &g_server.report, sizeof(g_server.report));
    std::string cleanup = "rm -rf '" + std::string(dir) + "'";
    if (system(cleanup.c_str()) != 0) {
    }
    return result;
}

// ---- the clients ------------------------------------------------------------

struct Subscriber {
    int fd = -1;
    uint64_t received = 0;   // chunk bytes, the ready byte not counted
    bool ready = false;
    bool closed = false;
    size_t offset = 0;       // position within the current chunk
    unsigned char header[HEADER];
    uint64_t expectSeq = 0;
    uint64_t orderErrors = 0;
};

struct ReaderShared {
    size_t chunk;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> delivered{0};
    std::atomic<int> ready{0};
    std::atomic<int> closed{0};
};

void Consume(Subscriber& s, const unsigned char* data, size_t n, size_t chunk, Histogram& h)
{
    while (n > 0) {
        if (!s.ready) {
            s.ready = true;  // the first byte is the server's ready mark
            ++data;
            --n;
            continue;
        }
        size_t take = std::min(n, chunk - s.offset);
        if (s.offset < HEADER) {
            size_t h8 = std::min(take, HEADER - s.offset);
            memcpy(s.header + s.offset, data, h8);
        }
        s.offset += take;
        s.received += take;
        data += take;
        n -= take;
        if (s.offset == chunk) {
            uint64_t sent, seq;
            memcpy(&sent, s.header, 8);
            memcpy(&seq, s.header + 8, 8);
            h.Add(NowNs() - sent);
            if (seq != s.expectSeq) ++s.orderErrors;
            s.expectSeq = seq + 1;
            s.offset = 0;
        }
    }
}

void ReaderLoop(std::vector<Subscriber*> mine, ReaderShared* shared, Histogram* hist)
{
    int ep = epoll_create1(EPOLL_CLOEXEC);
    for (Subscriber* s : mine) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = s;
        epoll_ctl(ep, EPOLL_CTL_ADD, s->fd, &ev);
    }
    std::vector<epoll_event> events(256);
    std::vector<unsigned char> buffer(65536);
    while (!shared->stop.load()) {
        int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 50);
        for (int i = 0; i < n; ++i) {
            Subscriber* s = static_cast<Subscriber*>(events[i].data.ptr);
            ssize_t got = recv(s->fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got > 0) {
                bool wasReady = s->ready;
                uint64_t before = s->received;
                Consume(*s, buffer.data(), static_cast<size_t>(got), shared->chunk, *hist);
                shared->delivered += s->received - before;
                if (!wasReady && s->ready) ++shared->ready;
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                s->closed = true;
                ++shared->closed;
                epoll_ctl(ep, EPOLL_CTL_DEL, s->fd, nullptr);
            }
        }
    }
    close(ep);
}

struct Options {
    std::vector<int> counts{100, 1000, 5000};
    std::vector<std::string> modes{"paced", "saturate"};
    size_t chunk = 1024;
    int intervalMs = 100;
    double seconds = 10;
};

int RunOne(const Options& o, int n, const std::string& mode)
{
    int control[2], report[2];
    if (pipe(control) != 0 || pipe(report) != 0) return 1;
    pid_t child = fork();
    if (child == 0) {
        close(control[1]);
        close(report[0]);
        _exit(RunServer(control[0], report[1]));
    }
    close(control[0]);
    close(report[1]);
    int port = 0;
    if (!Bench::ReadAll(report[0], &port, sizeof(port))) {
        fprintf(stderr, "server did not start\n");
        return 1;
    }

    int publisher = Connect(port);
    char mark = 0;
    if (publisher < 0 || !Bench::ReadAll(publisher, &mark, 1) || mark != 'P') {
        fprintf(stderr, "publisher not accepted\n");
        return 1;
    }

    std::vector<Subscriber> subs(static_cast<size_t>(n));
    uint64_t connectStart = NowNs();
    uint64_t slowest = 0;
    int slowCount = 0;
    for (Subscriber& s : subs) {
        uint64_t t0 = NowNs();
        s.fd = Connect(port);
        uint64_t took = NowNs() - t0;
        slowest = std::max(slowest, took);
        if (took > 100000000ull) ++slowCount;
        if (s.fd < 0) {
            fprintf(stderr, "connect failed: %s\n", strerror(errno));
            return 1;
        }
    }
    ReaderShared shared;
    shared.chunk = o.chunk;
    unsigned threads = static_cast<unsigned>(std::min(n, 4));
    std::vector<Histogram> hists(threads);
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < threads; ++t) {
        std::vector<Subscriber*> mine;
        for (size_t i = t; i < subs.size(); i += threads) mine.push_back(&subs[i]);
        readers.emplace_back(ReaderLoop, mine, &shared, &hists[t]);
    }
    while (shared.ready.load() < n) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double connectSeconds = (NowNs() - connectStart) / 1e9;

    // Stream.
    std::vector<unsigned char> chunk(o.chunk);
    for (size_t i = HEADER; i < o.chunk; ++i) chunk[i] = static_cast<unsigned char>(i * 7);
    chunk[HEADER] = 0xD3;  // looks like the start of an RTCM 3 frame
    uint64_t sent = 0, seq = 0;
    uint64_t start = NowNs(), end = start + static_cast<uint64_t>(o.seconds * 1e9);
    bool paced = mode == "paced";
    while (NowNs() < end) {
        uint64_t stamp = NowNs();
        memcpy(chunk.data(), &stamp, 8);
        memcpy(chunk.data() + 8, &seq, 8);
        if (!Bench::WriteAll(publisher, chunk.data(), chunk.size())) break;
        sent += chunk.size();
        ++seq;
        if (paced) {
            uint64_t next = start + seq * static_cast<uint64_t>(o.intervalMs) * 1000000ull;
            uint64_t now = NowNs();
            if (next > now) std::this_thread::sleep_for(std::chrono::nanoseconds(next - now));
        }
    }
    double streamSeconds = (NowNs() - start) / 1e9;

    // Let the last chunks arrive: stop once every subscriber has it all or
    // nothing has moved for two seconds.
    uint64_t expected = sent * static_cast<uint64_t>(n);
    AwaitDelivery(shared.delivered, expected);
    shared.stop = true;
    for (std::thread& r : readers) r.join();

    if (!Bench::WriteAll(control[1], "Q", 1)) return 1;
    ServerReport server{};
    bool gotReport = Bench::ReadAll(report[0], &server, sizeof(server));
    int status = 0;
    waitpid(child, &status, 0);
    close(control[1]);
    close(report[0]);
    close(publisher);
    uint64_t orderErrors = 0;
    for (Subscriber& s : subs) {
        orderErrors += s.orderErrors;
        close(s.fd);
    }

    Histogram all;
    for (const Histogram& h : hists) all.Merge(h);
    uint64_t delivered = shared.delivered.load();
    double streamCpu = server.cpuAtEnd - server.cpuAtStart;
    long perConnKb = gotReport ? (server.peakKb - server.baselineKb) / (n + 1) : 0;
    printf("N=%d mode=%s chunk=%zu B interval=%s seconds=%.1f\n", n, mode.c_str(), o.chunk,
           paced ? (std::to_string(o.intervalMs) + " ms").c_str() : "none", streamSeconds);
    printf("  chunks sent %llu, bytes sent %llu, expected at subscribers %llu, delivered %llu: %s\n",
           static_cast<unsigned long long>(seq), static_cast<unsigned long long>(sent),
           static_cast<unsigned long long>(expected), static_cast<unsigned long long>(delivered),
           delivered == expected ? "equal" : "NOT EQUAL");
    printf("  subscribers closed at the unsent limit %u, closed seen by clients %d, order errors %llu\n",
           server.limitCloses, shared.closed.load(), static_cast<unsigned long long>(orderErrors));
    printf("  latency ms: p50 %.2f  p99 %.2f  max %.2f  (%llu samples)\n", all.QuantileMs(0.5), all.QuantileMs(0.99),
           all.maxNs / 1e6, static_cast<unsigned long long>(all.count));
    printf("  caster CPU s: %.2f while streaming (%.1f%% of one core), %.2f in all; delivered %.1f MB/s\n",
           streamCpu, streamSeconds > 0 ? 100.0 * streamCpu / streamSeconds : 0.0, server.cpuAtEnd,
           streamSeconds > 0 ? delivered / 1e6 / streamSeconds : 0.0);
    printf("  caster RSS KB: baseline %ld, peak %ld, per connection %ld\n", server.baselineKb, server.peakKb,
           perConnKb);
    printf("  %d connections subscribed in %.2f s (slowest connect %.3f s, %d over 100 ms: SYN retries)\n", n + 1,
           connectSeconds, slowest / 1e9, slowCount);
    fflush(stdout);
    return delivered == expected ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--subscribers" && v) {
            o.counts = ParseCounts(v);
            ++i;
        } else if (a == "--mode" && v) {
            std::string m = v;
            o.modes = m == "both" ? std::vector<std::string>{"paced", "saturate"} : std::vector<std::string>{m};
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
        } else {
            fprintf(stderr,
                    "usage: fanout [--subscribers 100,1000,5000] [--mode paced|saturate|both] [--chunk 1024]\n"
                    "              [--interval-ms 100] [--seconds 10]\n");
            return 1;
        }
    }
    if (o.chunk < HEADER + 1) o.chunk = HEADER + 1;
    Platform_InitProcess();
    long limit = Platform_RaiseOpenFileLimit();
    int worst = 0;
    for (int n : o.counts) {
        if (limit > 0 && n + 64 > limit) {
            fprintf(stderr, "N=%d needs more open files than the limit %ld (raise ulimit -n)\n", n, limit);
            worst = 1;
            continue;
        }
        for (const std::string& mode : o.modes) worst = std::max(worst, RunOne(o, n, mode));
    }
    return worst;
}
