// A seeded network fuzz of every port a peer reaches, one case per port:
// - the caster port: for at most 25 s, eight clients send up to 6,000
//   malformed requests of every kind (random bytes, blank lines, SOURCE and
//   GET with hostile names, passwords and Base64, junk Ntrip-GGA headers,
//   binary login frames with good and bad checks, requests cut short or
//   dribbled, logged-in rovers sending junk and absurd positions);
// - the control port: management frames with random types, ids and bodies,
//   broken CRCs, lying lengths and cut frames, from centres logged in or not;
// - the "PPP-RTK" base: station reports, removals and client updates of
//   every wrong shape, and frames of other types, on its caster connection.
// (The HTTP inspector's case joins them here.)
// After each, a good base must still reach a good rover byte for byte and a
// logged-in control centre must be answered. The seed is printed;
// VORLANE_FUZZ_SEED replays one.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "support/CtrlCenterClient.h"
#include "support/NmeaSentence.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
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

const char* const kOperator = "fuzz-op";
const char* const kOperatorPassword = "Fuzz-Op-Pw-1";

class BlackboxHostileFuzz : public CasterTest {
protected:
    // The accounts of the good peers, then the caster.
    void StartForFuzz()
    {
        ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
        ASSERT_TRUE(vorlane.AddRoverAccount("fuzzrover", "Fuzz-Pw-1"));
        ASSERT_TRUE(vorlane.AddOperatorAccount(kOperator, kOperatorPassword));
        ASSERT_NO_FATAL_FAILURE(StartCaster());
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

}  // namespace
