// A seeded network fuzz of every port a peer reaches, one case per port:
// - the caster port: for at most 25 s, eight clients send up to 6,000
//   malformed requests of every kind (random bytes, blank lines, SOURCE and
//   GET with hostile names, passwords and Base64, junk Ntrip-GGA headers,
//   binary login frames with good and bad checks, requests cut short or
//   dribbled, logged-in rovers sending junk and absurd positions);
// - the control port: management frames with random types, ids and bodies,
//   broken CRCs, lying lengths and cut frames, from centres logged in or not;
// - the "PPP-RTK" base: station reports, removals and client updates of
//   every wrong shape, and frames of other types, on its caster connection;
// - the HTTP inspector: wrong methods, paths and versions, broken request
//   lines and headers, header floods on both sides of its limit, bodies of
//   wrong JSON (wrong types, huge numbers, deep nesting, bytes that are not
//   UTF-8, cut short), requests half-sent and dropped, pipelined requests;
//   every answer to a well-formed request is checked against its envelope.
// After each, a good base must still reach a good rover byte for byte and a
// logged-in control centre must be answered. The seed is printed;
// VORLANE_FUZZ_SEED replays one.
#include "blackbox/GnssFrames.h"
#include "blackbox/InspectorFixture.h"
#include "support/CtrlCenterClient.h"
#include "support/NmeaSentence.h"

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace NtripTexts;
using Clock = std::chrono::steady_clock;

const int kClients = 8;
const int kBudgetMs = 25000;
const int kMaxRequests = 6000;
// Pauses between a client's connections spread the requests over the time.
const int kPauseMaxMs = 150;

class Junk {
public:
    explicit Junk(uint32_t seed) : rng_(seed) {}

    int Below(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

    std::string Bytes(size_t n)
    {
        std::string out(n, '\0');
        for (char& c : out) c = static_cast<char>(rng_() & 0xff);
        return out;
    }

    // A text a hostile peer would put in a name or password.
    std::string Text()
    {
        static const char* const kPieces[] = {"MNT1", "NEAREST", "RTCM32_ZedOz", "\r\n", "\r", "\n", "\x1b[2J",
                                              "\x1b]0;x\x07", "%s%n%x", "../../", "'; drop table user_tb; --", ":",
                                              "\t", " ", "/", "\\", "\xff\xfe", "GET", "SOURCE", "*", "$GPGGA,"};
        std::string out;
        int parts = Below(6);
        for (int i = 0; i < parts; ++i) {
            if (Chance(50)) {
                out += kPieces[Below(sizeof(kPieces) / sizeof(kPieces[0]))];
            } else {
                out += Bytes(static_cast<size_t>(Below(20)));
            }
        }
        if (Chance(10)) out += std::string(static_cast<size_t>(100 + Below(300)), 'A');
        return out;
    }

    std::string Base64Junk()
    {
        if (Chance(50)) return Base64(Text() + (Chance(70) ? ":" : "") + Text());
        static const char kChars[] = "ABCxyz019+/=!-_ \t";
        std::string out;
        int n = Below(120);
        for (int i = 0; i < n; ++i) out += kChars[Below(sizeof(kChars) - 1)];
        return out;
    }

    std::string Number()
    {
        static const char* const kNumbers[] = {"1e308", "-1e308", "inf", "nan", "-inf", "1e400", "", "0",
                                               "99999999999999999999", "4807.038", "-0", "0x1p1023", "1e-400"};
        return kNumbers[Below(sizeof(kNumbers) / sizeof(kNumbers[0]))];
    }

    // A GGA or KSXT sentence with absurd fields, its checksum right or wrong.
    std::string Sentence()
    {
        std::string body;
        if (Chance(70)) {
            body = std::string(Chance(50) ? "GPGGA," : "GNGGA,") + "123519," + Number() + ",N," + Number() + ",E," +
                   std::to_string(Below(10)) + "," + Number() + "," + Number() + "," + Number() + ",M," + Number() +
                   ",M," + Number() + "," + Number();
        } else {
            body = "KSXT,20190909084745.00," + Number() + "," + Number() + "," + Number() + ",,,,,," +
                   std::to_string(Below(4)) + ",,," + Number() + ",,,,,,," + Number();
        }
        unsigned flip = Chance(20) ? 1 + Below(255) : 0;
        std::string tail = Chance(80) ? "\r\n" : Text();
        return NmeaSentence(body, true, flip) + tail;
    }

    // An AA 55 DD frame: header fields, payload and CRC-16 random or right.
    std::string BinaryFrame()
    {
        size_t payload = static_cast<size_t>(Below(Chance(90) ? 60 : 400));
        std::string frame = "\xAA\x55\xDD" + Bytes(9);
        frame += static_cast<char>(payload & 0xff);
        frame += static_cast<char>((payload >> 8) & 0xff);
        frame += static_cast<char>(Chance(60) ? 1 : Below(256));
        frame += Bytes(5);
        frame += Chance(50) ? Sentence().substr(0, payload) : Bytes(payload);
        frame.resize(20 + payload, '\0');
        uint16_t crc = 0;
        for (unsigned char c : frame) {
            crc ^= static_cast<uint16_t>(c << 8);
            for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x3D65) : static_cast<uint16_t>(crc << 1);
        }
        if (Chance(30)) crc ^= static_cast<uint16_t>(1 + Below(0xffff));
        frame += static_cast<char>(crc & 0xff);
        frame += static_cast<char>(crc >> 8);
        return frame;
    }

    std::string Request()
    {
        switch (Below(9)) {
        case 0: return Bytes(static_cast<size_t>(1 + Below(3000)));
        case 1: {
            std::string out;
            int n = Below(400);
            for (int i = 0; i < n; ++i) out += Chance(90) ? "\r\n" : "\n";
            return out;
        }
        case 2: return "SOURCE " + Text() + " " + (Chance(50) ? "/" : "") + Text() + "\r\nSource-Agent: " + Text() + "\r\n\r\n";
        case 3:
            return "GET /" + Text() + (Chance(80) ? " HTTP/1.0" : "") + "\r\nUser-Agent: " + Text() +
                   "\r\nAuthorization: " + (Chance(80) ? "Basic " : "") + Base64Junk() + "\r\n" +
                   (Chance(20) ? std::string(static_cast<size_t>(Below(3000)), 'H') : "") + "\r\n";
        case 4: return "GET / HTTP/1.0\r\nNtrip-GGA: " + (Chance(50) ? Sentence() : Text()) + "\r\n\r\n";
        case 5: {
            std::string out;
            int n = 1 + Below(4);
            for (int i = 0; i < n; ++i) out += BinaryFrame();
            return out;
        }
        case 6: {
            std::string whole = GetRequest(Text(), Text(), Text());
            return whole.substr(0, static_cast<size_t>(Below(static_cast<int>(whole.size()))));
        }
        case 7: return Text() + "\r\n\r\n";
        default: return SourceRequest(Text(), "MNT1") + Bytes(static_cast<size_t>(Below(500)));
        }
    }

private:
    std::mt19937 rng_;
};

uint32_t FuzzSeed()
{
    const char* env = getenv("VORLANE_FUZZ_SEED");
    return env && *env ? static_cast<uint32_t>(strtoul(env, nullptr, 10)) : 20240617u;
}

// Management frames as a broken or hostile peer writes them.
class FrameJunk : public Junk {
public:
    explicit FrameJunk(uint32_t seed) : Junk(seed) {}

    // Names that never hit the accounts of the good peers.
    std::string Name()
    {
        static const char* const kPieces[] = {"op", "base", "NEAREST", "PPP-RTK", "\r\n", "\x1b[2J", "%s%n", "'--",
                                              "\xff\xfe", "\xc3\xa9", "\xe4\xb8\xad", ".."};
        std::string out;
        int parts = Below(5);
        for (int i = 0; i < parts; ++i) {
            out += Chance(60) ? kPieces[Below(sizeof(kPieces) / sizeof(kPieces[0]))] : Bytes(1 + Below(12));
        }
        if (Chance(10)) out += std::string(static_cast<size_t>(150 + Below(300)), 'N');
        return out;
    }

    // A protobuf-shaped body: fields of every wire type, some nested, some cut.
    std::string Body(int depth = 0)
    {
        CtrlWire::Pb pb;
        int fields = Below(8);
        for (int i = 0; i < fields; ++i) {
            int field = 1 + Below(Chance(80) ? 15 : 600);
            switch (Below(4)) {
            case 0: pb.Varint(field, Chance(50) ? static_cast<uint64_t>(Below(100000)) : Wide()); break;
            case 1: pb.Bytes(field, Name()); break;
            case 2: pb.Bytes(field, depth < 3 ? Body(depth + 1) : std::string()); break;  // nested
            default: pb.Bytes(field, Bytes(static_cast<size_t>(Below(60)))); break;
            }
        }
        std::string out = pb.Str();
        if (Chance(10)) out = out.substr(0, static_cast<size_t>(Below(static_cast<int>(out.size()) + 1)));
        if (Chance(10)) out = Bytes(static_cast<size_t>(Below(300)));
        return out;
    }

    // A JSON text for a type-0 request.
    std::string Json()
    {
        static const char* const kTexts[] = {
            "{\"MsgId\": 1000}", "{\"MsgId\": 1001, \"MsgData\": {\"blacklist\": [\"fz-a\", 7, null]}}",
            "{\"MsgId\": 1002, \"MsgData\": {\"whitelist\": [[\"fz-b\"], {\"x\": 1}]}}",
            "{\"MsgId\": 99999999999}", "[1,2,3]", "{\"MsgId\": 1001, \"MsgData\": 5}", "{", "",
            "{\"MsgId\": 1000, \"MsgData\": {\"a\": {\"b\": {\"c\": [[[[[[[]]]]]]]}}}}"};
        std::string text = kTexts[Below(sizeof(kTexts) / sizeof(kTexts[0]))];
        if (Chance(20)) text += Name();
        return text;
    }

    // One frame of the given type with a body and header that may lie.
    std::string Frame(uint32_t type)
    {
        int32_t id = Chance(10) ? -1 : Chance(10) ? 0 : static_cast<int32_t>(Wide());
        std::string body = type == 0 && Chance(70) ? CtrlWire::Pb().Bytes(1, Json()).Str() : Body();
        long long claimed = -1;
        if (Chance(5)) claimed = Chance(50) ? static_cast<long long>(Wide() & 0xffffffffu) : 16LL * 1024 * 1024;
        if (Chance(5)) claimed = static_cast<long long>(body.size()) + 1 - Below(3);
        std::string frame = CtrlWire::Frame(type, id, body, static_cast<uint8_t>(Chance(90) ? 0 : Below(256)),
                                            Chance(90) ? 0 : static_cast<uint32_t>(Wide()), claimed);
        switch (Below(20)) {
        case 0: frame[static_cast<size_t>(Below(static_cast<int>(frame.size())))] ^= static_cast<char>(1 << Below(8)); break;
        case 1: frame = frame.substr(0, static_cast<size_t>(Below(static_cast<int>(frame.size())))); break;
        case 2: frame[4] = 30; break;  // header_length, under the header CRC
        case 3: frame = "\xAA\x41\x13" + Bytes(static_cast<size_t>(Below(40))); break;
        default: break;
        }
        return frame;
    }

private:
    uint64_t Wide() { return (static_cast<uint64_t>(Below(1 << 30)) << 34) ^ static_cast<uint64_t>(Below(1 << 30)); }
};

const char* const kInspectorRoutes[] = {"/xqn_user/get",   "/xqn_user/add",     "/xqn_station_stat",
                                        "/xqn_rover_stat", "/xqn_station_info", "/xqn_rover_info"};

// HTTP requests and JSON bodies as a broken or hostile operator tool writes
// them.
class HttpJunk : public Junk {
public:
    explicit HttpJunk(uint32_t seed) : Junk(seed) {}

    std::string Route() { return kInspectorRoutes[Below(6)]; }

    // A route, one dressed up, or a path that is none of them.
    std::string Path()
    {
        static const char* const kPaths[] = {"/", "", "*", "/xqn_user", "/xqn_user/get/", "/XQN_USER/GET",
                                             "/xqn_user%2Fget", "//xqn_rover_stat", "/xqn_station_stat/../xqn_user/get",
                                             "http://127.0.0.1/xqn_station_stat", "/xqn_rover_info#x", "/%00", "/%zz",
                                             "/xqn_user/add%00", "/xqn_station_info;x", "xqn_user/get"};
        if (Chance(50)) return Route() + (Chance(20) ? "?" + Text() : "");
        if (Chance(80)) return kPaths[Below(sizeof(kPaths) / sizeof(kPaths[0]))];
        if (Chance(30)) return "/" + std::string(static_cast<size_t>(6000 + Below(6000)), 'p');
        return "/" + Text();
    }

    std::string Method()
    {
        static const char* const kMethods[] = {"POST", "POST", "POST",  "GET",   "PUT",  "DELETE",     "HEAD",
                                               "OPTIONS", "TRACE", "CONNECT", "PATCH", "post", "BREW", "P OST",
                                               "",     "\x16\x03\x01"};
        return kMethods[Below(sizeof(kMethods) / sizeof(kMethods[0]))];
    }

    std::string Version()
    {
        static const char* const kVersions[] = {"HTTP/1.1", "HTTP/1.1", "HTTP/1.1",  "HTTP/1.0",          "HTTP/0.9",
                                                "HTTP/2.0", "HTTP/1.",  "HTTP/11.1", "HTTP/1.1 x",        "http/1.1",
                                                "HTTP/",    "",         "HTTP/1.1 HTTP/1.1", "HTTP/99999999999.1", "ICY"};
        return kVersions[Below(sizeof(kVersions) / sizeof(kVersions[0]))];
    }

    // A number of every range; now and then one no JSON reader takes.
    std::string JsonNumber()
    {
        static const char* const kNumbers[] = {
            "0", "1", "2", "3", "-1", "2.5", "1e400", "-1e400", "1e-400", "99999999999999999999999",
            "18446744073709551616", "18446744073709551615", "-9223372036854775809", "9223372036854775807",
            "-9223372036854775808", "2147483648", "-2147483649", "-0", "1e308", "4294967296", "3.0"};
        static const char* const kBroken[] = {"0x10", "01", "1.", "+1", ".5", "NaN", "Infinity", "-", "1e"};
        if (Chance(3)) return kBroken[Below(sizeof(kBroken) / sizeof(kBroken[0]))];
        return kNumbers[Below(sizeof(kNumbers) / sizeof(kNumbers[0]))];
    }

    // A JSON string: escapes to decode, bytes that are not UTF-8, control
    // bytes, dates out of range; now and then an escape no reader takes or
    // no closing quote.
    std::string JsonString()
    {
        static const char* const kPieces[] = {"fz", "\\u0000", "\\udc00x", "\\u00e9", "\\ud83d\\ude00", "\\\"",
                                              "\\\\", "\\n", "\\/", "\xff", "\xc0\xaf", "\xed\xa0\x80", "\xe6\xb5",
                                              "\xf4\x90\x80\x80", "\xe4\xb8\xad\xe6\x96\x87", "'; drop table user_tb; --",
                                              "%s%n", "\x01\x1b[2J", "\t", "2030/1/1 0:0:0", "2030/2/31 25:61:61",
                                              "-2147483648/1/1 0:0:0", "MNT1", " "};
        static const char* const kBroken[] = {"\\ud800", "\\x41", "\\u12", "\\", "\"", "\\U0041"};
        std::string out = "\"";
        int parts = Below(5);
        for (int i = 0; i < parts; ++i) {
            if (Chance(3)) {
                out += kBroken[Below(sizeof(kBroken) / sizeof(kBroken[0]))];
            } else if (Chance(85)) {
                out += kPieces[Below(sizeof(kPieces) / sizeof(kPieces[0]))];
            } else {
                for (char c : Bytes(static_cast<size_t>(1 + Below(8)))) out += c == '"' || c == '\\' ? '?' : c;
            }
        }
        if (Chance(5)) out += std::string(static_cast<size_t>(150 + Below(300)), 'S');
        if (Chance(99)) out += "\"";
        return out;
    }

    std::string JsonValue(int depth)
    {
        switch (Below(depth < 4 ? 8 : 5)) {
        case 0: return "null";
        case 1: return Chance(50) ? "true" : "false";
        case 2: return JsonNumber();
        case 3:
        case 4: return JsonString();
        case 5: {
            std::string out = "[";
            int n = Below(5);
            for (int i = 0; i < n; ++i) out += (i ? "," : "") + JsonValue(depth + 1);
            return out + "]";
        }
        case 6: {
            std::string out = "{";
            int n = Below(5);
            for (int i = 0; i < n; ++i) out += (i ? "," : "") + Key() + ":" + JsonValue(depth + 1);
            return out + "}";
        }
        default: return UserObject(depth + 1);
        }
    }

    std::string Key()
    {
        static const char* const kKeys[] = {"UserName", "Password", "UserType", "Contacts", "PhoneNum",
                                            "Mail",     "QQ",       "Company",  "ExpireTime", "Enabled",
                                            "MountPoint", "data",   "",         "any"};
        if (Chance(85)) return std::string("\"") + kKeys[Below(sizeof(kKeys) / sizeof(kKeys[0]))] + "\"";
        return JsonString();
    }

    // An object of the routes' members, each mostly of its own type. Names
    // start "fz", so no add takes the good peers' accounts.
    std::string UserObject(int depth)
    {
        static const char* const kMembers[] = {"UserName", "Password", "UserType", "Contacts", "PhoneNum", "Mail",
                                               "QQ",       "Company",  "ExpireTime", "Enabled", "MountPoint"};
        if (Chance(25)) {
            // One an add takes, so the store and the user tables see traffic.
            std::string n = std::to_string(Below(100000));
            return "{\"UserName\":\"fz" + n + "\",\"Password\":\"Fz-Pw-" + n + "\",\"UserType\":" +
                   std::to_string(2 + Below(2)) + (Chance(50) ? ",\"Company\":\"\xe6\xb5\x8b\xe7\xbb\x98\"" : "") +
                   (Chance(50) ? ",\"ExpireTime\":" + Typed("ExpireTime") : "") +
                   (Chance(50) ? ",\"Enabled\":true" : "") + "}";
        }
        std::string out = "{";
        bool first = true;
        for (const char* member : kMembers) {
            if (!Chance(member == kMembers[0] || member == kMembers[1] || member == kMembers[2] ? 85 : 35)) continue;
            std::string value = Chance(85) ? Typed(member) : JsonValue(depth + 1);
            out += (first ? "\"" : ",\"") + std::string(member) + "\":" + value;
            first = false;
            if (Chance(3)) out += ",\"" + std::string(member) + "\":" + JsonValue(depth + 1);  // twice
        }
        return out + "}";
    }

    // A JSON body for a route.
    std::string Body()
    {
        std::string body;
        int kind = Below(20);
        if (kind == 0) {
            body = JsonValue(0);  // any root
        } else if (kind == 1) {
            // Nested far deeper than a reader's stack limit, or just below it.
            int n = Chance(50) ? 100 + Below(1500) : 2000 + Below(100000);
            bool arrays = Chance(50);
            std::string open = arrays ? "[" : "{\"data\":", close = arrays ? "]" : "}";
            body = "{\"data\":";
            for (int i = 0; i < n; ++i) body += open;
            if (Chance(50)) {
                for (int i = 0; i < n; ++i) body += close;
                body += "}";
            }
        } else if (kind == 2) {
            body = Bytes(static_cast<size_t>(1 + Below(400)));
        } else if (kind == 3) {
            body = "{\"any\":" + JsonValue(1) + "}";
        } else {
            body = "{\"data\":[";
            int n = Chance(80) ? 1 : Below(4);
            for (int i = 0; i < n; ++i) body += (i ? "," : "") + (Chance(80) ? UserObject(1) : JsonValue(1));
            body += "]";
            if (Chance(10)) body += "," + Key() + ":" + JsonValue(1);
            body += "}";
        }
        if (Chance(10)) body = body.substr(0, static_cast<size_t>(Below(static_cast<int>(body.size()) + 1)));  // cut
        if (Chance(4)) body.insert(static_cast<size_t>(Below(static_cast<int>(body.size()) + 1)), 1, '\0');
        if (Chance(3)) body = "\xEF\xBB\xBF" + body;
        if (Chance(3)) body += Chance(50) ? "/* x */" : Text();
        return body;
    }

    // A request to a route that is well-formed HTTP, its body hostile, with
    // filler headers of about flood bytes (at most 1 KB more).
    std::string WellFormed(const std::string& route, const std::string& body, bool close, size_t flood = 0)
    {
        std::string filler;
        for (int i = 0; filler.size() < flood; ++i) {
            filler += "X-Filler-" + std::to_string(i) + ": " + std::string(static_cast<size_t>(50 + Below(900)), 'f') +
                      "\r\n";
        }
        return "POST " + route + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n" + (close ? "Connection: close\r\n" : "") + filler +
               "\r\n" + body;
    }

    // A request broken anywhere: its line, its headers, its length, its
    // framing, its size; now and then cut short.
    std::string Request()
    {
        std::string out;
        switch (Below(12)) {
        case 0: out = Bytes(static_cast<size_t>(1 + Below(2000))); break;
        case 1: out = Text() + "\r\n\r\n"; break;
        case 2: {
            out = Method() + Gap() + Path() + Gap() + Version() + (Chance(70) ? "\r\n\r\n" : "\r\n");
            break;
        }
        default: {
            std::string body = Chance(1) ? std::string(static_cast<size_t>(1024 * 1024 + Below(100000)), ' ') + "{}" : Body();
            out = Method() + " " + Path() + " " + Version() + "\r\n" + Headers(&body) + "\r\n" + body;
            break;
        }
        }
        if (Chance(10)) out = out.substr(0, static_cast<size_t>(Below(static_cast<int>(out.size()) + 1)));
        return out;
    }

private:
    // What a broken request line has between its method, path and version.
    std::string Gap()
    {
        static const std::string kGaps[] = {" ", "  ", "\t", "", "\r\n", "\n", std::string(1, '\0')};
        return kGaps[Below(sizeof(kGaps) / sizeof(kGaps[0]))];
    }

    std::string Typed(const char* member)
    {
        std::string name = member;
        if (name == "UserType") return std::to_string(Chance(70) ? 2 + Below(2) : Below(5));
        if (name == "Enabled") return Chance(70) ? (Chance(50) ? "true" : "false") : std::to_string(Below(3));
        if (name == "UserName") {
            std::string text = JsonString();
            return "\"fz" + std::to_string(Below(100000)) + text.substr(1);
        }
        if (name == "ExpireTime" && Chance(50)) {
            return "\"" + std::to_string(1900 + Below(300)) + "/" + std::to_string(Below(14)) + "/" +
                   std::to_string(Below(33)) + " " + std::to_string(Below(26)) + ":" + std::to_string(Below(62)) + ":" +
                   std::to_string(Below(62)) + "\"";
        }
        return JsonString();
    }

    // The header block for *body, which may be re-framed as chunks.
    std::string Headers(std::string* body)
    {
        std::string h;
        if (Chance(80)) h += "Host: 127.0.0.1\r\n";
        int framing = Below(100);
        if (framing < 65) {
            h += "Content-Length: " + std::to_string(body->size()) + "\r\n";
        } else if (framing < 70) {
            h += "Content-Length: " + std::to_string(body->size() + 1 + static_cast<size_t>(Below(100))) + "\r\n";  // waits
        } else if (framing < 75) {
            h += "Content-Length: " + std::to_string(body->size() / 2) + "\r\n";  // the rest reads as the next request
        } else if (framing < 80) {
            static const char* const kLengths[] = {"-1", "99999999999999999999", "abc", "1e3", " 5", "0x10", "", "+4"};
            h += std::string("Content-Length: ") + kLengths[Below(sizeof(kLengths) / sizeof(kLengths[0]))] + "\r\n";
        } else if (framing < 84) {
            h += "Content-Length: " + std::to_string(body->size()) + "\r\nContent-Length: " + std::to_string(Below(50)) +
                 "\r\n";
        } else if (framing < 94) {
            h += "Transfer-Encoding: chunked\r\n";
            *body = Chunked(*body);
        }
        if (Chance(10)) {
            h += std::string("Connection: ") + (Chance(40) ? "close" : Chance(50) ? "keep-alive" : Text()) + "\r\n";
        }
        if (Chance(5)) h += "Expect: 100-continue\r\n";
        int junk = Below(4);
        for (int i = 0; i < junk; ++i) {
            switch (Below(5)) {
            case 0: h += "X-" + Text() + ": " + Text() + "\r\n"; break;
            case 1: h += "NoColonHere\r\n"; break;
            case 2: h += " folded onto the line before\r\n"; break;
            case 3: h += "X-Bare: lf\n"; break;
            default: h += ": no name\r\n"; break;
            }
        }
        if (Chance(6)) {
            // A flood just under the header limit or well over it.
            size_t total = Chance(50) ? static_cast<size_t>(5000 + Below(2500)) : static_cast<size_t>(9000 + Below(200000));
            for (int i = 0; h.size() < total; ++i) {
                h += "X-Flood-" + std::to_string(i) + ": " + std::string(static_cast<size_t>(50 + Below(1500)), 'f') + "\r\n";
            }
        }
        return h;
    }

    std::string Chunked(const std::string& body)
    {
        std::string out;
        size_t at = 0;
        while (at < body.size()) {
            size_t n = std::min(body.size() - at, static_cast<size_t>(1 + Below(200)));
            char size[32];
            snprintf(size, sizeof(size), "%zx", n);
            out += (Chance(5) ? std::string(Chance(50) ? "fffffffffffffffff" : "zz") : std::string(size)) + "\r\n" +
                   body.substr(at, n) + "\r\n";
            at += n;
        }
        if (Chance(90)) out += "0\r\n\r\n";
        return out;
    }
};

// The inspector's limits: a request's header block, open connections.
const size_t kHeaderLimit = 8 * 1024;
const int kInspectorCap = 128;

// One HTTP answer of a stream of them.
struct HttpAnswer {
    std::string statusLine;
    std::string body;
};

// Splits a stream of answers by their Content-Length. False when the stream
// is not a whole number of answers.
bool SplitAnswers(const std::string& stream, std::vector<HttpAnswer>* answers)
{
    size_t at = 0;
    while (at < stream.size()) {
        size_t end = stream.find("\r\n\r\n", at);
        if (end == std::string::npos) return false;
        std::string head = stream.substr(at, end + 4 - at);
        HttpAnswer answer;
        answer.statusLine = head.substr(0, head.find("\r\n"));
        size_t length = head.find("\r\nContent-Length: ");
        if (length == std::string::npos) return false;
        size_t n = strtoul(head.c_str() + length + 18, nullptr, 10);
        if (stream.size() < end + 4 + n) return false;
        answer.body = stream.substr(end + 4, n);
        answers->push_back(answer);
        at = end + 4 + n;
    }
    return true;
}

// Why an answer of route is not an envelope the route gives; "" when it is.
std::string EnvelopeFault(const std::string& route, const HttpAnswer& answer)
{
    Json::CharReaderBuilder builder;
    builder["strictRoot"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value json;
    std::string errors;
    if (!reader->parse(answer.body.data(), answer.body.data() + answer.body.size(), &json, &errors)) return "not JSON";
    if (!json.isObject() || json.getMemberNames() != std::vector<std::string>{"data", "message", "status"}) {
        return "not the three members";
    }
    if (!json["data"].isArray() || !json["status"].isInt() || !json["message"].isString()) return "wrong member types";
    if (answer.body.find('\n') != answer.body.size() - 1) return "not one line";
    int status = json["status"].asInt();
    std::string message = json["message"].asString();
    if (answer.statusLine != (status >= 0 ? "HTTP/1.1 200 OK" : "HTTP/1.1 400 Bad Request")) return "wrong HTTP status";
    if (status < 0 && !json["data"].empty()) return "data on a failure";
    std::set<std::string> allowed;
    if (status == -2) {
        allowed = {kMalformed};
        if (route == "/xqn_user/add") {
            allowed.insert({"没有设置用户名", "没有设置密码", "没有设置用户类型", "账号添加失败"});
        }
    } else if (status == -1 && route == "/xqn_user/add") {
        allowed = {"账号已存在"};
    } else if (status == -1 && route == "/xqn_user/get") {
        allowed = {"账号不存在"};
    } else if (status == 0 && route == "/xqn_user/add") {
        allowed = {"账号添加成功"};
    } else if (status == 0 && route == "/xqn_user/get") {
        allowed = {"查询成功"};
    } else if (status == 0) {
        const char* counted = route == "/xqn_rover_stat"   ? "在线流动站数量:"
                              : route == "/xqn_rover_info" ? "在线流动站信息,数量:"
                                                           : "在线基站数量:";
        allowed = {counted + std::to_string(json["data"].size())};
    }
    if (!allowed.count(message)) return "unexpected status and message";
    return "";
}

// The first fault the clients met, and how many.
class Faults {
public:
    void Add(const std::string& what)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_++ == 0) first_ = what;
    }
    int Count() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    std::string First() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return first_;
    }

private:
    mutable std::mutex mutex_;
    int count_ = 0;
    std::string first_;
};

const char* const kOperator = "fuzz-op";
const char* const kOperatorPassword = "Fuzz-Op-Pw-1";

class BlackboxHostileFuzz : public BlackboxInspector {
protected:
    // The accounts of the good peers, then the caster (and, when asked, its
    // inspector listening).
    void StartForFuzz(bool withInspector = false)
    {
        ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
        ASSERT_TRUE(vorlane.AddRoverAccount("fuzzrover", "Fuzz-Pw-1"));
        ASSERT_TRUE(vorlane.AddOperatorAccount(kOperator, kOperatorPassword));
        if (withInspector) {
            ASSERT_NO_FATAL_FAILURE(StartInspector());
        } else {
            ASSERT_NO_FATAL_FAILURE(StartCaster());
        }
        bool accepts = false;
        for (int i = 0; i < 100 && !(accepts = PortAccepts(vorlane.ControlPort(), 100)); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(accepts) << "the control port never accepted";
    }

    // After a fuzz: the caster runs, a good base reaches a good rover byte
    // for byte, and a control centre logs in and is answered.
    void ExpectGoodPeersServed()
    {
        ASSERT_TRUE(vorlane.Running()) << vorlane.Diagnostics();
        TestClient base, rover;
        std::string reply;
        ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1", &reply)) << Printable(reply);
        ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "MNT1", "fuzzrover", "Fuzz-Pw-1", &reply)) << Printable(reply);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::string stream;
        for (int i = 0; i < 20; ++i) stream += GnssFrames::RtcmFiller(1074 + i % 3, 900, static_cast<uint32_t>(i));
        ASSERT_TRUE(base.Send(stream));
        std::string got = rover.ReadExactly(stream.size(), 5000);
        EXPECT_TRUE(got == stream) << FirstDifference(got, stream);

        CtrlCenterClient centre;
        ASSERT_TRUE(centre.Connect(vorlane.ControlPort()));
        EXPECT_EQ(centre.Login(kOperator, kOperatorPassword), 20);
        ASSERT_TRUE(centre.Request(21, 4242, CtrlWire::Pb()));
        CtrlWire::Received r;
        EXPECT_TRUE(centre.NextReply(&r, 5000) && r.type == 1020 && r.id == 4242) << "the centre was not answered";
        EXPECT_EQ(vorlane.Stderr().find("runtime error"), std::string::npos) << vorlane.Stderr();
    }
};

TEST_F(BlackboxHostileFuzz, SeededMalformedRequestsLeaveAGoodBaseServingAGoodRover)
{
    vorlane.SetNtrip("rover_gga_log", 1);
    ASSERT_NO_FATAL_FAILURE(StartForFuzz());
    TestClient streamingBase;
    ASSERT_TRUE(RawPeers::LoginBase(&streamingBase, Port(), "MNT1", "Base-Pw-1"));
    ASSERT_TRUE(streamingBase.Send(GnssFrames::Rtcm1005(1, 48.1, 11.5, 500.0)));

    const uint32_t seed = FuzzSeed();
    std::cout << "fuzz seed " << seed << " (VORLANE_FUZZ_SEED replays it)" << std::endl;
    std::atomic<int> requests{0};
    std::atomic<int> connections{0};
    Clock::time_point start = Clock::now();
    auto timeLeft = [&] { return Clock::now() - start < std::chrono::milliseconds(kBudgetMs); };

    std::vector<std::thread> clients;
    for (int t = 0; t < kClients; ++t) {
        clients.emplace_back([&, t] {
            Junk junk(seed * 31u + static_cast<uint32_t>(t));
            while (timeLeft() && requests < kMaxRequests) {
                TestClient c;
                if (!c.Connect(Port())) continue;
                ++connections;
                if (junk.Chance(15)) {
                    // A rover that logs in, then sends junk positions.
                    if (!c.Send(GetRequest(junk.Chance(80) ? "MNT1" : "NEAREST", "fuzzrover", "Fuzz-Pw-1"))) continue;
                    c.ReadAvailable(50);
                    int n = 1 + junk.Below(20);
                    for (int i = 0; i < n; ++i) {
                        c.Send(junk.Chance(80) ? junk.Sentence() : junk.Chance(50) ? junk.BinaryFrame()
                                                                                   : junk.Bytes(1 + junk.Below(700)));
                        ++requests;
                    }
                } else if (junk.Chance(10)) {
                    // Dribbled in pieces.
                    std::string r = junk.Request();
                    for (size_t at = 0; at < r.size() && timeLeft(); at += 1 + junk.Below(40)) {
                        c.Send(r.substr(at, 1 + junk.Below(40)));
                        std::this_thread::sleep_for(std::chrono::milliseconds(junk.Below(15)));
                    }
                    ++requests;
                } else {
                    int n = 1 + junk.Below(junk.Chance(20) ? 30 : 3);
                    std::string burst;
                    for (int i = 0; i < n; ++i) burst += junk.Request();
                    c.Send(burst);
                    requests += n;
                }
                c.ReadAvailable(junk.Below(30));
                c.Close();
                std::this_thread::sleep_for(std::chrono::milliseconds(junk.Below(kPauseMaxMs)));
            }
        });
    }
    for (std::thread& t : clients) t.join();
    std::cout << requests.load() << " malformed requests on " << connections.load() << " connections in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() << " ms"
              << std::endl;
    EXPECT_GE(requests.load(), 2000) << "the fuzz sent too little to mean much";
    ExpectGoodPeersServed();
}

// Requests a logged-in centre may send without ending the story: no stop
// (18), no change of users by id (13, 14) and no configuration writes (17,
// 47), which would take the good peers' accounts or ports away.
const uint32_t kSafeRequests[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 21, 46};

TEST_F(BlackboxHostileFuzz, SeededMalformedFramesOnTheControlPortLeaveEveryPortServing)
{
    ASSERT_NO_FATAL_FAILURE(StartForFuzz());
    const uint32_t seed = FuzzSeed() ^ 0x5eed0001u;
    std::cout << "control fuzz seed " << seed << std::endl;
    const int kCentres = 6, kBudget = 15000, kMaxFrames = 5000;
    std::atomic<int> frames{0};
    Clock::time_point start = Clock::now();
    auto timeLeft = [&] { return Clock::now() - start < std::chrono::milliseconds(kBudget); };
    std::vector<std::thread> centres;
    for (int t = 0; t < kCentres; ++t) {
        centres.emplace_back([&, t] {
            FrameJunk junk(seed * 31u + static_cast<uint32_t>(t));
            while (timeLeft() && frames < kMaxFrames) {
                CtrlCenterClient c;
                if (!c.Connect(vorlane.ControlPort())) continue;
                // Half of them log in first, so their frames reach the handlers.
                bool in = junk.Chance(50) && c.Login(kOperator, kOperatorPassword) == 20;
                int bursts = 1 + junk.Below(6);
                for (int b = 0; b < bursts && timeLeft(); ++b) {
                    std::string burst;
                    int n = 1 + junk.Below(junk.Chance(20) ? 40 : 5);
                    for (int i = 0; i < n; ++i) {
                        uint32_t type = junk.Chance(75) ? kSafeRequests[junk.Below(sizeof(kSafeRequests) / sizeof(kSafeRequests[0]))]
                                        : junk.Chance(50) ? static_cast<uint32_t>(1000 + junk.Below(1012))
                                                          : static_cast<uint32_t>(junk.Below(1 << 16)) * 65537u;
                        if (type == 13 || type == 14 || type == 17 || type == 18 || type == 47) type = 21;
                        // A logged-in centre mostly stays in: a junk login or a logout ends it.
                        if (in && (type == 1 || type == 2) && junk.Chance(95)) type = 12;
                        burst += junk.Chance(5) ? junk.Bytes(static_cast<size_t>(1 + junk.Below(500))) : junk.Frame(type);
                    }
                    if (!c.Send(burst)) break;
                    frames += n;
                    c.Raw().ReadAvailable(junk.Below(40));
                }
                c.Close();
                std::this_thread::sleep_for(std::chrono::milliseconds(junk.Below(60)));
            }
        });
    }
    for (std::thread& t : centres) t.join();
    std::cout << frames.load() << " hostile frames on the control port in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() << " ms"
              << std::endl;
    EXPECT_GE(frames.load(), 2000) << "the fuzz sent too little to mean much";
    ExpectGoodPeersServed();
}

TEST_F(BlackboxHostileFuzz, SeededMalformedFramesOfThePppRtkBaseLeaveEveryPortServing)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("PPP-RTK", "Ppp-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartForFuzz());
    const uint32_t seed = FuzzSeed() ^ 0x5eed0002u;
    std::cout << "PPP-RTK fuzz seed " << seed << std::endl;
    const int kBudget = 15000, kMaxFrames = 5000;
    const uint32_t kTypes[] = {43, 44, 45};
    FrameJunk junk(seed);
    int frames = 0, logins = 0;
    Clock::time_point start = Clock::now();
    auto timeLeft = [&] { return Clock::now() - start < std::chrono::milliseconds(kBudget); };
    while (timeLeft() && frames < kMaxFrames) {
        // One "PPP-RTK" base at a time: the mount takes one.
        TestClient base;
        if (!RawPeers::LoginBase(&base, Port(), "PPP-RTK", "Ppp-Pw-1")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        ++logins;
        int bursts = 1 + junk.Below(20);
        for (int b = 0; b < bursts && timeLeft(); ++b) {
            std::string burst;
            int n = 1 + junk.Below(junk.Chance(20) ? 60 : 8);
            for (int i = 0; i < n; ++i) {
                uint32_t type = junk.Chance(85) ? kTypes[junk.Below(3)] : static_cast<uint32_t>(junk.Below(2100));
                if (type == 44 && junk.Chance(50)) {
                    // A well-formed report with hostile texts.
                    CtrlWire::Pb station;
                    station.Int(1, junk.Below(3000)).Bytes(2, junk.Name()).Bytes(4, junk.Name()).Bytes(6, junk.Name());
                    CtrlWire::Pb request;
                    int items = junk.Chance(80) ? 1 : junk.Below(4);
                    for (int k = 0; k < items; ++k) request.Message(2, station);
                    burst += CtrlWire::Frame(44, 1, request.Str());
                } else {
                    burst += junk.Chance(5) ? junk.Bytes(static_cast<size_t>(1 + junk.Below(500))) : junk.Frame(type);
                }
            }
            if (!base.Send(burst)) break;
            frames += n;
            base.ReadAvailable(junk.Below(30));
        }
        base.Close();
    }
    std::cout << frames << " hostile frames from " << logins << " PPP-RTK logins in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() << " ms"
              << std::endl;
    EXPECT_GE(frames, 2000) << "the fuzz sent too little to mean much";

    // A well-behaved PPP-RTK base is still answered on its connection.
    TestClient base;
    bool in = false;
    for (int i = 0; i < 40 && !(in = RawPeers::LoginBase(&base, Port(), "PPP-RTK", "Ppp-Pw-1")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(in) << "the PPP-RTK base could not log in again";
    ASSERT_TRUE(base.Send(CtrlWire::Frame(43, 7, CtrlWire::Pb().Message(2, CtrlWire::Pb().Int(1, 4343).Bytes(2, "good")).Str())));
    std::string answer = base.ReadUntil("good", 5000);
    EXPECT_NE(answer.find("\xAA\x41\x13\x42"), std::string::npos) << "no answer to a good client update";
    ExpectGoodPeersServed();
}

TEST_F(BlackboxHostileFuzz, SeededMalformedHttpRequestsLeaveTheInspectorAndEveryPortServing)
{
    ASSERT_TRUE(vorlane.AddRoverAccount("fuzzwatch", "Watch-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartForFuzz(true));
    const uint32_t seed = FuzzSeed() ^ 0x5eed0003u;
    std::cout << "inspector fuzz seed " << seed << std::endl;
    SCOPED_TRACE("inspector fuzz seed " + std::to_string(seed) + ": VORLANE_FUZZ_SEED=" + std::to_string(FuzzSeed()) +
                 " replays it");
    // A base and a rover online, so the registry routes have records to list.
    TestClient streamingBase, watcher;
    ASSERT_TRUE(RawPeers::LoginBase(&streamingBase, Port(), "MNT1", "Base-Pw-1"));
    ASSERT_TRUE(streamingBase.Send(GnssFrames::Rtcm1005(1, 48.1, 11.5, 500.0)));
    ASSERT_TRUE(RawPeers::LoginRover(&watcher, Port(), "MNT1", "fuzzwatch", "Watch-Pw-1"));

    // Each client holds one connection at a time: far below the cap.
    const int kHttpClients = 6, kBudget = 12000, kMaxRequests = 4000;
    std::atomic<int> requests{0}, checked{0};
    Faults faults;
    Clock::time_point start = Clock::now();
    auto timeLeft = [&] { return Clock::now() - start < std::chrono::milliseconds(kBudget); };
    std::vector<std::thread> clients;
    for (int t = 0; t < kHttpClients; ++t) {
        clients.emplace_back([&, t] {
            HttpJunk junk(seed * 31u + static_cast<uint32_t>(t));
            while (timeLeft() && requests < kMaxRequests) {
                TestClient c;
                if (!c.Connect(vorlane.HttpPort())) continue;
                if (junk.Chance(30)) {
                    // Well-formed HTTP, hostile bodies, pipelined now and
                    // then: every one is answered with its route's envelope.
                    int n = junk.Chance(80) ? 1 : 2 + junk.Below(4);
                    // Now and then headers just under the limit, or over it.
                    size_t flood = 0;
                    if (n == 1 && junk.Chance(10)) {
                        flood = static_cast<size_t>(junk.Chance(50) ? 4000 + junk.Below(2500) : 9000 + junk.Below(100000));
                    }
                    std::vector<std::string> routes;
                    std::string burst;
                    for (int i = 0; i < n; ++i) {
                        routes.push_back(junk.Route());
                        burst += junk.WellFormed(routes.back(), junk.Body(), i == n - 1, flood);
                    }
                    requests += n;
                    bool sent = c.Send(burst);
                    bool closed = false;
                    std::string stream = c.ReadUntilEof(10000, &closed);
                    if (flood > kHeaderLimit) {
                        // Refused and closed; the answer may be lost to the
                        // reset of the bytes the inspector never read.
                        if (!closed || (!stream.empty() && stream.rfind("HTTP/1.1 4", 0) != 0)) {
                            faults.Add("headers over the limit not refused: " + Printable(stream));
                        }
                        continue;
                    }
                    checked += n;
                    if (!sent) {
                        faults.Add("a well-formed request was not taken: " + Printable(burst));
                        continue;
                    }
                    std::vector<HttpAnswer> answers;
                    if (!closed || !SplitAnswers(stream, &answers) || answers.size() != routes.size()) {
                        faults.Add("not " + std::to_string(n) + " whole answers to " + Printable(burst) + ": " +
                                   Printable(stream));
                        continue;
                    }
                    for (size_t i = 0; i < answers.size(); ++i) {
                        std::string fault = EnvelopeFault(routes[i], answers[i]);
                        if (!fault.empty()) {
                            faults.Add(fault + ": " + Printable(burst) + " answered " + Printable(stream));
                        }
                    }
                } else if (junk.Chance(10)) {
                    // Its first pieces dribbled, the rest at once, then dropped.
                    std::string r = junk.Request();
                    size_t at = 0;
                    for (int piece = 0; piece < 30 && at < r.size(); ++piece) {
                        size_t n = static_cast<size_t>(1 + junk.Below(200));
                        if (!c.Send(r.substr(at, n))) break;
                        at += n;
                        std::this_thread::sleep_for(std::chrono::milliseconds(junk.Below(10)));
                    }
                    if (at < r.size()) c.Send(r.substr(at));
                    ++requests;
                } else {
                    int n = 1 + junk.Below(junk.Chance(20) ? 10 : 2);
                    std::string burst;
                    for (int i = 0; i < n; ++i) burst += junk.Request();
                    c.Send(burst);  // fails once the inspector has given up on it
                    requests += n;
                    // Whatever comes back is HTTP (of the version asked in).
                    std::string reply = c.ReadAvailable(junk.Below(30));
                    if (!reply.empty() && reply.rfind("HTTP/", 0) != 0) {
                        faults.Add("not HTTP: " + Printable(reply) + " to " + Printable(burst));
                    }
                }
                c.Close();
                std::this_thread::sleep_for(std::chrono::milliseconds(junk.Below(20)));
            }
        });
    }
    for (std::thread& t : clients) t.join();
    std::cout << requests.load() << " hostile HTTP requests (" << checked.load() << " well-formed, their answers checked) in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() << " ms"
              << std::endl;
    EXPECT_GE(requests.load(), 2000) << "the fuzz sent too little to mean much";
    EXPECT_EQ(faults.Count(), 0) << "first: " << faults.First();
    ASSERT_TRUE(vorlane.Running()) << vorlane.Diagnostics();

    // None of the fuzz's connections holds a place under the cap.
    std::vector<std::unique_ptr<TestClient>> idle;
    for (int i = 0; i < kInspectorCap - 1; ++i) {
        idle.emplace_back(new TestClient);
        idle.back()->Connect(vorlane.HttpPort());
    }
    Answer a;
    EXPECT_TRUE(WaitAnswer("/xqn_station_stat", "{\"any\":1}", [](const Answer& x) { return x.http == 200; }, &a))
        << Printable(a.raw);
    for (auto& c : idle) {
        c->ReadAvailable(1);
        EXPECT_FALSE(c->PeerClosed()) << "an idle client under the cap was closed";
    }
    idle.clear();

    streamingBase.Close();
    watcher.Close();
    ExpectGoodPeersServed();

    // The inspector answers well-formed queries as before the fuzz.
    Answer user = Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"fuzzrover\"}]}");
    ExpectEnvelope(user, 0, "查询成功", "the good rover's account");
    ASSERT_EQ(user.json["data"].size(), 1u) << Printable(user.raw);
    EXPECT_EQ(user.json["data"][0]["UserName"].asString(), "fuzzrover");
    EXPECT_EQ(user.json["data"][0]["Password"].asString(), "Fuzz-Pw-1");
    EXPECT_EQ(user.json["data"][0]["UserType"].asInt(), 3);
    TestClient base;
    bool in = false;
    for (int i = 0; i < 40 && !(in = RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(in) << "the good base could not log in again";
    Answer stations;
    auto onlyTheGoodBase = [](const Answer& x) {
        return Names(x.json["data"], "MountPoint") == std::set<std::string>{"MNT1"};
    };
    EXPECT_TRUE(WaitAnswer("/xqn_station_stat", "{\"any\":1}", onlyTheGoodBase, &stations))
        << Printable(stations.raw);
    ExpectEnvelope(stations, 0, "在线基站数量:1", "the good base online");
}

}  // namespace
