// A seeded network fuzz of the caster port: for at most 25 s, eight clients
// send up to 6,000 malformed requests of every kind (random bytes, blank
// lines, SOURCE and GET with hostile names, passwords and Base64, junk
// Ntrip-GGA headers, binary login frames with good and bad checks, requests
// cut short or dribbled, logged-in rovers sending junk and absurd positions).
// Then a good base must still reach a good rover byte for byte. The seed is
// printed; VORLANE_FUZZ_SEED replays one.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"

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
        unsigned sum = 0;
        for (char c : body) sum ^= static_cast<unsigned char>(c);
        if (Chance(20)) sum ^= 1 + Below(255);
        char digits[4];
        snprintf(digits, sizeof(digits), "%02X", sum & 0xff);
        std::string tail = Chance(80) ? "\r\n" : Text();
        return "$" + body + "*" + digits + tail;
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

class BlackboxHostileFuzz : public CasterTest {};

TEST_F(BlackboxHostileFuzz, SeededMalformedRequestsLeaveAGoodBaseServingAGoodRover)
{
    vorlane.SetNtrip("rover_gga_log", 1);
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("fuzzrover", "Fuzz-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
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
    ASSERT_TRUE(vorlane.Running()) << vorlane.Diagnostics();

    // A good base and a good rover afterwards: every byte arrives.
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
    EXPECT_EQ(vorlane.Stderr().find("runtime error"), std::string::npos) << vorlane.Stderr();
}

}  // namespace
