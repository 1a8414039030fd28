// Many rovers changing base at once: 200 rovers on virtual mounts across 10
// bases, driving about with random GGA positions, each of whose streams must
// be whole chunks of the bases it was bound to, in the order it was bound to
// them; and rovers logging in while their base logs in again and again, all
// of which must end on the newest connection's stream.
#include "blackbox/NearestFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using RawPeers::LoginBase;
using RawPeers::LoginRover;
using TaggedStreams::AsSent;
using TaggedStreams::Distance;
using TaggedStreams::Stretch;

const double kMetresPerDegree = 6378137.0 * 0.01745329252;

// What the caster does with a virtual-mount rover's positions, replayed: the
// bases it binds the rover to, in order.
class BindingModel {
public:
    BindingModel(const std::vector<BasePlace>& bases, int limit) : bases_(bases), limit_(limit) {}

    // Whether the caster's decision on this position is clear: not within a
    // metre of the limit, nor of a tie between the two nearest bases (the
    // caster reads the bases' positions back from their 1005 to a few mm).
    bool Clear(double lat, double lon) const
    {
        std::vector<double> d;
        for (const BasePlace& b : bases_) d.push_back(Distance(lat, lon, b.latitude, b.longitude));
        std::sort(d.begin(), d.end());
        if (d.size() > 1 && d[1] - d[0] < 1.0) return false;
        if (bound_ < 0) return true;
        return std::fabs(Distance(boundLat_, boundLon_, lat, lon) - limit_) >= 1.0;
    }

    void Position(double lat, double lon)
    {
        int nearest = 0;
        double best = 1e300;
        for (size_t i = 0; i < bases_.size(); ++i) {
            double d = Distance(lat, lon, bases_[i].latitude, bases_[i].longitude);
            if (d < best) {
                best = d;
                nearest = static_cast<int>(i) + 1;
            }
        }
        if (bound_ >= 0) {
            if (!(Distance(boundLat_, boundLon_, lat, lon) > limit_) || nearest == bound_) return;
        }
        bound_ = nearest;
        boundLat_ = lat;
        boundLon_ = lon;
        bindings_.push_back(nearest);
    }

    const std::vector<int>& Bindings() const { return bindings_; }

private:
    std::vector<BasePlace> bases_;
    int limit_;
    int bound_ = -1;
    double boundLat_ = 0.0, boundLon_ = 0.0;
    std::vector<int> bindings_;
};

struct Rover {
    TestClient client;
    std::string bytes;
    BindingModel model;
    double lat, lon;
    Clock::time_point nextGga;
    explicit Rover(const BindingModel& m) : model(m), lat(0), lon(0) {}
};

class BlackboxRebindStress : public NearestTest {};

TEST_F(BlackboxRebindStress, TwoHundredMovingRoversGetWholeChunksOfTheirBasesOnly)
{
    const int kBases = 10, kRovers = 200, kThreads = 8, kLimit = 2000;
    const int kDriveMs = 40000, kChunkMs = 50;
    const double kLat0 = 30.0, kLon0 = 114.0, kSpanLat = 0.4, kSpanLon = 0.5;
    const char* mounts[] = {"NEAREST", "NEAREST_V", "RTCM32_ZedOz", "RTCM32_VODIR"};

    std::mt19937 random(20240507);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<BasePlace> places;
    std::vector<std::string> names;
    for (int i = 0; i < kBases; ++i) names.push_back("BASE" + std::to_string(i + 1));
    for (int i = 0; i < kBases; ++i) {
        double lat = kLat0 + kSpanLat * ((i / 5) + 0.2 + 0.6 * unit(random)) / 2.0;
        double lon = kLon0 + kSpanLon * ((i % 5) + 0.2 + 0.6 * unit(random)) / 5.0;
        places.push_back({names[i].c_str(), lat, lon});
    }
    vorlane.SetNtrip("rover_login_mode", 1);
    vorlane.SetNtrip("rover_distance_limit", kLimit);
    ASSERT_NO_FATAL_FAILURE(StartBases(places, kChunkMs));

    std::vector<std::unique_ptr<Rover>> rovers;
    for (int i = 0; i < kRovers; ++i) {
        rovers.emplace_back(new Rover(BindingModel(places, kLimit)));
        std::string reply;
        ASSERT_TRUE(LoginRover(&rovers[i]->client, Port(), mounts[i % 4], "r" + std::to_string(i), "x", &reply))
            << i << ": " << Printable(reply);
        rovers[i]->lat = kLat0 + kSpanLat * unit(random);
        rovers[i]->lon = kLon0 + kSpanLon * unit(random);
    }

    // Each thread drives its share of the rovers: a GGA every 300-1200 ms,
    // mostly a few km from the last position, sometimes anywhere.
    std::atomic<int> sendFailures{0};
    auto drive = [&](int part) {
        std::mt19937 r(1000 + part);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        auto start = Clock::now();
        for (int i = part; i < kRovers; i += kThreads) rovers[i]->nextGga = start;
        while (Clock::now() - start < std::chrono::milliseconds(kDriveMs)) {
            for (int i = part; i < kRovers; i += kThreads) {
                Rover& rv = *rovers[i];
                rv.bytes += rv.client.ReadAvailable(0);
                if (Clock::now() < rv.nextGga) continue;
                double lat, lon;
                do {
                    if (u(r) < 0.2) {
                        lat = kLat0 + kSpanLat * u(r);
                        lon = kLon0 + kSpanLon * u(r);
                    } else {
                        double step = 4000.0 * u(r) / kMetresPerDegree, angle = 6.2831853 * u(r);
                        lat = std::min(kLat0 + kSpanLat, std::max(kLat0, rv.lat + step * std::cos(angle)));
                        lon = std::min(kLon0 + kSpanLon, std::max(kLon0, rv.lon + step * std::sin(angle)));
                    }
                    lat = AsSent(lat);
                    lon = AsSent(lon);
                } while (!rv.model.Clear(lat, lon));
                if (!rv.client.Send(GnssFrames::Gga(lat, lon, 30.0) + "\r\n")) sendFailures++;
                rv.model.Position(lat, lon);
                rv.lat = lat;
                rv.lon = lon;
                rv.nextGga = Clock::now() + std::chrono::milliseconds(300 + static_cast<int>(900 * u(r)));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // The last binding settles and streams a while.
        auto tail = Clock::now();
        while (Clock::now() - tail < std::chrono::milliseconds(1500)) {
            for (int i = part; i < kRovers; i += kThreads) rovers[i]->bytes += rovers[i]->client.ReadAvailable(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(drive, t);
    for (std::thread& t : threads) t.join();
    StopStreams();
    EXPECT_EQ(0, sendFailures.load());

    int switched = 0;
    for (int i = 0; i < kRovers; ++i) {
        Rover& rv = *rovers[i];
        rv.bytes += rv.client.ReadAvailable(200);
        EXPECT_FALSE(rv.client.PeerClosed()) << "rover " << i << " was closed";
        std::string whole = WholeFrames(rv.bytes);
        std::vector<TaggedStreams::Tag> tags;
        std::vector<Stretch> segments;
        std::string error;
        if (!TaggedStreams::Parse(whole, &tags, &error) || !TaggedStreams::Segments(tags, &segments, &error)) {
            ADD_FAILURE() << "rover " << i << ": " << error;
            continue;
        }
        EXPECT_TRUE(whole == Expected(segments)) << "rover " << i << ": " << FirstDifference(whole, Expected(segments));
        // The bases it got, in order, are bases it was bound to, in that
        // order; it ends on the last one.
        const std::vector<int>& bound = rv.model.Bindings();
        size_t j = 0;
        bool ordered = true;
        for (const Stretch& s : segments) {
            while (j < bound.size() && bound[j] != s.base) ++j;
            if (j == bound.size()) {
                ordered = false;
                break;
            }
            ++j;
        }
        std::string boundText;
        for (int b : bound) boundText += std::to_string(b) + " ";
        EXPECT_TRUE(ordered) << "rover " << i << " got " << TaggedStreams::Describe(segments) << ", bound to "
                             << boundText;
        ASSERT_FALSE(segments.empty()) << "rover " << i << " got nothing";
        EXPECT_EQ(bound.back(), segments.back().base)
            << "rover " << i << " got " << TaggedStreams::Describe(segments) << ", bound to " << boundText;
        if (segments.size() > 1) ++switched;
    }
    EXPECT_GT(switched, kRovers / 2) << "too few rovers changed base to tell anything";
    EXPECT_GT(vorlane.CountInLogAtLeast("Due to movetion ,rover:", kRovers + 1), kRovers);
}

// A base's relogin moves its rovers to the new connection while rovers log
// in and bind (by name, and by position on a virtual mount): no rover may be
// left subscribed to a connection that is gone.
TEST_F(BlackboxRebindStress, RoversLoggingInDuringBaseReloginsEndOnTheNewestConnection)
{
    const int kRelogins = 8, kRovers = 40, kChunkMs = 10, kEveryMs = 150;
    vorlane.SetNtrip("rover_login_mode", 1);
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    std::vector<std::unique_ptr<TestClient>> connections;
    std::vector<std::unique_ptr<TaggedStreams::Streamer>> feeds;
    auto relogin = [&](int id) {
        connections.emplace_back(new TestClient);
        std::string reply;
        EXPECT_TRUE(LoginBase(connections.back().get(), Port(), "MNT1", "any", &reply)) << Printable(reply);
        EXPECT_TRUE(connections.back()->Send(GnssFrames::Rtcm1005(1, 30.0, 114.0, 20.0)));
        feeds.emplace_back(new TaggedStreams::Streamer(connections.back().get(), id, kChunkMs));
        feeds.back()->Start();
    };
    relogin(1);
    ASSERT_TRUE(WaitCount("Add base ", 1)) << "the base's position was never taken";

    std::vector<std::unique_ptr<TestClient>> rovers(kRovers);
    std::vector<std::string> bytes(kRovers);
    std::atomic<int> failed{0};
    std::thread login([&] {
        for (int i = 0; i < kRovers; ++i) {
            rovers[i].reset(new TestClient);
            bool nearest = i % 2 == 1;
            std::string reply;
            if (!LoginRover(rovers[i].get(), Port(), nearest ? "NEAREST" : "MNT1", "r" + std::to_string(i), "x",
                            &reply) ||
                (nearest && !rovers[i]->Send(GnssFrames::Gga(30.01, 114.0, 20.0) + "\r\n"))) {
                failed++;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kRelogins * kEveryMs / kRovers));
        }
    });
    for (int k = 2; k <= kRelogins; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kEveryMs));
        relogin(k);
        feeds[k - 2]->Stop();
    }
    login.join();
    ASSERT_EQ(0, failed.load());
    EXPECT_TRUE(connections[kRelogins - 2]->WaitClosed(RawPeers::kReplyMs)) << "the older connection stays open";

    auto start = Clock::now();
    while (Clock::now() - start < std::chrono::milliseconds(1500)) {
        for (int i = 0; i < kRovers; ++i) bytes[i] += rovers[i]->ReadAvailable(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (auto& f : feeds) f->Stop();
    for (int i = 0; i < kRovers; ++i) {
        std::vector<Stretch> stretches;
        std::string error;
        ASSERT_TRUE(Judge(bytes[i], &stretches, &error)) << "rover " << i << ": " << error;
        ASSERT_FALSE(stretches.empty()) << "rover " << i << " got nothing";
        for (size_t s = 1; s < stretches.size(); ++s) {
            EXPECT_LT(stretches[s - 1].base, stretches[s].base)
                << "rover " << i << " went back to an older connection: " << TaggedStreams::Describe(stretches);
        }
        EXPECT_EQ(kRelogins, stretches.back().base)
            << "rover " << i << " is not on the newest connection: " << TaggedStreams::Describe(stretches);
        EXPECT_GE(stretches.back().last - stretches.back().first, 50u) << "rover " << i;
    }
}

}  // namespace
