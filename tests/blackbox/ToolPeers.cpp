#include "blackbox/ToolPeers.h"

#include "support/Files.h"
#include "support/WaitFor.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ToolPeers {

namespace {

void PutU32(std::string* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

size_t FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

}  // namespace

bool WriteTimedFeed(const std::string& path, const std::string& bytes, size_t chunkBytes, int intervalMs,
                    int startDelayMs)
{
    if (chunkBytes == 0) return false;
    // RTKLIB's tag file: a 64-byte header ending in the start tick, the
    // start time (32-bit seconds, then a double fraction), then records of
    // (milliseconds since open, file position). The bytes up to a record's
    // position are released once its moment has passed.
    std::string tag = "TIMETAG RTKLIB 2.4.3";
    tag.resize(60, '\0');
    PutU32(&tag, 0);
    PutU32(&tag, 1700000000u);
    double fraction = 0.0;
    tag.append(reinterpret_cast<const char*>(&fraction), sizeof(fraction));

    uint32_t tick = static_cast<uint32_t>(startDelayMs);
    PutU32(&tag, tick);
    PutU32(&tag, 0);
    size_t pos = 0;
    while (pos < bytes.size()) {
        pos = std::min(bytes.size(), pos + chunkBytes);
        tick += static_cast<uint32_t>(intervalMs);
        PutU32(&tag, tick);
        PutU32(&tag, static_cast<uint32_t>(pos));
    }
    return WriteFile(path, bytes) && WriteFile(path + ".tag", tag);
}

int TimedFeedDurationMs(size_t bytes, size_t chunkBytes, int intervalMs, int startDelayMs)
{
    size_t chunks = chunkBytes ? (bytes + chunkBytes - 1) / chunkBytes : 0;
    return startDelayMs + static_cast<int>(chunks) * intervalMs;
}

std::string Str2StrPath() { return FindProgram("str2str"); }

bool StartStr2StrBase(ChildProcess* process, const std::string& dir, const std::string& feedPath, int port,
                      const std::string& mount, const std::string& password)
{
    std::string out = "ntrips://:" + password + "@127.0.0.1:" + std::to_string(port) + "/" + mount;
    return process->Spawn({"str2str", "-in", "file://" + feedPath + "::T", "-out", out}, dir,
                          dir + "/str2str-base.out", dir + "/str2str-base.err");
}

bool StartStr2StrRover(ChildProcess* process, const std::string& dir, int port, const std::string& mount,
                       const std::string& user, const std::string& password, const std::string& outPath)
{
    std::string in = "ntrip://" + user + ":" + password + "@127.0.0.1:" + std::to_string(port) + "/" + mount;
    return process->Spawn({"str2str", "-in", in, "-out", "file://" + outPath}, dir, dir + "/str2str-rover.out",
                          dir + "/str2str-rover.err");
}

ExitStatus RunCurlSourceTable(const std::string& dir, int port, const std::string& outPath, int timeoutMs)
{
    ChildProcess curl;
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    std::string seconds = std::to_string(timeoutMs / 1000 > 0 ? timeoutMs / 1000 : 1);
    // The table starts "SOURCETABLE 200 OK", no HTTP status line: curl takes
    // such an answer only as HTTP/0.9, body = every byte received.
    if (!curl.Spawn({"curl", "--silent", "--show-error", "--http0.9", "--max-time", seconds, "--output", outPath, url},
                    dir, dir + "/curl.out", dir + "/curl.err")) {
        return ExitStatus();
    }
    ExitStatus status = curl.Wait(timeoutMs + 2000);
    if (!status.ended) curl.Kill();
    return status;
}

CurlReply CurlPost(const std::string& dir, int port, const std::string& path, const std::string& body,
                   int timeoutMs)
{
    static std::atomic<unsigned> serial{0};
    std::string stem = dir + "/curl-post-" + std::to_string(serial++);
    CurlReply reply;
    if (!WriteFile(stem + ".in", body)) return reply;
    ChildProcess curl;
    std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    std::string seconds = std::to_string(timeoutMs / 1000 > 0 ? timeoutMs / 1000 : 1);
    // --data-binary sends the file's bytes untouched (no newline stripping);
    // the status code goes to stdout, the body to a file.
    if (!curl.Spawn({"curl", "--silent", "--max-time", seconds, "--data-binary", "@" + stem + ".in", "--output",
                     stem + ".body", "--write-out", "%{http_code}", url},
                    dir, stem + ".status", stem + ".err")) {
        return reply;
    }
    ExitStatus status = curl.Wait(timeoutMs + 2000);
    if (!status.ended) curl.Kill();
    reply.httpStatus = atoi(ReadFile(stem + ".status").c_str());
    reply.body = ReadFile(stem + ".body");
    reply.ran = status.Success() && reply.httpStatus > 0;
    return reply;
}

bool WaitFileSize(const std::string& path, size_t n, int timeoutMs)
{
    return WaitFor([&] { return FileSize(path) >= n; }, timeoutMs);
}

}  // namespace ToolPeers
