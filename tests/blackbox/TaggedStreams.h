// Base streams whose every chunk says where it came from, for the tests of
// rovers that change base: each chunk is one whole RTCM 3 frame of message
// 4094 (proprietary) carrying the base's id and the chunk's sequence number,
// sent with one write of its own and paced, so the caster reads it whole.
// A rover's bytes then parse back into (base, sequence) tags: a frame cut
// anywhere, sent twice, skipped within a run, or mixed with another base's
// stream shows.
#pragma once

#include "blackbox/GnssFrames.h"
#include "support/TestClient.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace TaggedStreams {

const int kMessage = 4094;
const size_t kPayload = 32;

// The frame of chunk seq of base id (0..255).
inline std::string Frame(int base, uint32_t seq)
{
    std::string payload(kPayload, '\0');
    payload[0] = static_cast<char>(kMessage >> 4);
    payload[1] = static_cast<char>((kMessage & 0x0F) << 4);
    payload[2] = static_cast<char>(base & 0xFF);
    for (int i = 0; i < 4; ++i) payload[3 + i] = static_cast<char>((seq >> (24 - 8 * i)) & 0xFF);
    // Filler that depends on both, so a frame pieced together from two is caught by its CRC.
    for (size_t i = 7; i < kPayload; ++i) payload[i] = static_cast<char>((seq * 31 + base * 7 + i) & 0xFF);
    return GnssFrames::RtcmFrame(payload);
}

struct Tag {
    int base;
    uint32_t seq;
};

// One stretch of a rover's stream from one base.
struct Stretch {
    int base;
    uint32_t first;
    uint32_t last;
};

// Splits a rover's bytes into whole frames: tagged ones become tags, 1005
// station frames are skipped. False, with *error saying where, at a byte that
// starts no frame, a CRC mismatch, a frame of another kind or a frame cut at
// the end.
inline bool Parse(const std::string& bytes, std::vector<Tag>* tags, std::string* error)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t at = 0;
    while (at < bytes.size()) {
        if (p[at] != 0xD3 || at + 3 > bytes.size()) {
            *error = "no frame starts at byte " + std::to_string(at);
            return false;
        }
        size_t length = (static_cast<size_t>(p[at + 1] & 0x03) << 8) | p[at + 2];
        if (at + 6 + length > bytes.size()) {
            *error = "frame cut at byte " + std::to_string(at) + " of " + std::to_string(bytes.size());
            return false;
        }
        uint32_t crc = GnssFrames::Crc24q(p + at, 3 + length);
        uint32_t got = (uint32_t(p[at + 3 + length]) << 16) | (uint32_t(p[at + 4 + length]) << 8) | p[at + 5 + length];
        if (crc != got) {
            *error = "bad CRC in the frame at byte " + std::to_string(at);
            return false;
        }
        int message = length >= 2 ? (p[at + 3] << 4) | (p[at + 4] >> 4) : -1;
        if (message == kMessage && length == kPayload) {
            Tag tag;
            tag.base = p[at + 5];
            tag.seq = (uint32_t(p[at + 6]) << 24) | (uint32_t(p[at + 7]) << 16) | (uint32_t(p[at + 8]) << 8) |
                      p[at + 9];
            tags->push_back(tag);
        } else if (message != 1005) {
            *error = "unexpected message " + std::to_string(message) + " at byte " + std::to_string(at);
            return false;
        }
        at += 6 + length;
    }
    return true;
}

// The stretches of the tags; false (with *error) when a stretch skips or repeats a
// sequence number, or a base's stream comes back at an older chunk.
inline bool Stretches(const std::vector<Tag>& tags, std::vector<Stretch>* runs, std::string* error)
{
    for (const Tag& t : tags) {
        if (!runs->empty() && runs->back().base == t.base) {
            if (t.seq != runs->back().last + 1) {
                *error = "base " + std::to_string(t.base) + ": chunk " + std::to_string(t.seq) + " after " +
                         std::to_string(runs->back().last);
                return false;
            }
            runs->back().last = t.seq;
            continue;
        }
        for (const Stretch& r : *runs) {
            if (r.base == t.base && t.seq <= r.last) {
                *error = "base " + std::to_string(t.base) + ": chunk " + std::to_string(t.seq) + " again";
                return false;
            }
        }
        runs->push_back({t.base, t.seq, t.seq});
    }
    return true;
}

// Like Stretches, for a rover that may have left a base and come back to it:
// a stretch also ends where its base's numbers jump (the chunks sent while
// the rover was bound elsewhere). False (with *error) when a base's chunk
// comes twice or after a later one of the same base.
inline bool Segments(const std::vector<Tag>& tags, std::vector<Stretch>* segments, std::string* error)
{
    std::vector<long long> lastOf(256, -1);
    for (const Tag& t : tags) {
        if (static_cast<long long>(t.seq) <= lastOf[t.base]) {
            *error = "base " + std::to_string(t.base) + ": chunk " + std::to_string(t.seq) + " after chunk " +
                     std::to_string(lastOf[t.base]);
            return false;
        }
        lastOf[t.base] = t.seq;
        if (!segments->empty() && segments->back().base == t.base && segments->back().last + 1 == t.seq) {
            segments->back().last = t.seq;
        } else {
            segments->push_back({t.base, t.seq, t.seq});
        }
    }
    return true;
}

inline std::string Describe(const std::vector<Stretch>& runs)
{
    std::string out;
    for (const Stretch& r : runs) {
        out += "[" + std::to_string(r.base) + ":" + std::to_string(r.first) + ".." + std::to_string(r.last) + "]";
    }
    return out.empty() ? "(nothing)" : out;
}

// A base that sends one tagged frame every intervalMs from a thread of its
// own, and drops what the caster sends back (the keep-alive).
class Streamer {
public:
    Streamer(TestClient* base, int id, int intervalMs) : base_(base), id_(id), interval_(intervalMs) {}
    ~Streamer() { Stop(); }
    Streamer(const Streamer&) = delete;
    Streamer& operator=(const Streamer&) = delete;

    void Start()
    {
        stop_ = false;
        thread_ = std::thread([this] { Run(); });
    }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Chunks sent so far; the next one has this number.
    uint32_t Sent() const { return sent_; }
    bool Failed() const { return failed_; }
    // When the last chunk went out (the start, before the first).
    std::chrono::steady_clock::time_point LastSent() const
    {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(last_.load()));
    }

private:
    void Run()
    {
        auto start = std::chrono::steady_clock::now();
        last_ = start.time_since_epoch().count();
        for (uint32_t k = 0; !stop_; ++k) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(int64_t(interval_) * k));
            if (!base_->Send(Frame(id_, sent_))) {
                failed_ = true;
                break;
            }
            sent_ += 1;
            last_ = std::chrono::steady_clock::now().time_since_epoch().count();
            base_->ReadAvailable(0);
        }
    }

    TestClient* base_;
    int id_;
    int interval_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<uint32_t> sent_{0};
    std::atomic<std::chrono::steady_clock::rep> last_{0};
};

// Metres between two points on the caster's sphere, and a point's GGA
// latitude or longitude as the caster reads it back (degrees and minutes to
// four decimals).
inline double Distance(double lat1, double lon1, double lat2, double lon2)
{
    if (lat1 == lat2 && lon1 == lon2) return 0.0;
    const double k = 0.01745329252;
    double c = cos((lon1 - lon2) * k) * cos(lat2 * k) * cos(lat1 * k) + sin(lat2 * k) * sin(lat1 * k);
    if (c > 1.0) c = 1.0;
    return acos(c) * 6378137.0;
}

inline double AsSent(double degrees)
{
    double a = std::fabs(degrees);
    int whole = static_cast<int>(a);
    char text[32];
    snprintf(text, sizeof(text), "%.4f", (a - whole) * 60.0);
    double back = whole + atof(text) / 60.0;
    return degrees < 0 ? -back : back;
}

}  // namespace TaggedStreams
