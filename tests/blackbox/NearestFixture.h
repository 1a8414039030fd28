// The fixture of the tests of rovers that change base: bases at chosen
// positions that announce them with a 1005 and then stream tagged chunks
// (TaggedStreams.h), and readers that judge a rover's bytes chunk by chunk.
#pragma once

#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/TaggedStreams.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct BasePlace {
    const char* mount;
    double latitude;
    double longitude;
};

class NearestTest : public CasterTest {
protected:
    // Logs the bases in (ids 1, 2, ... in this order), sends each its 1005,
    // waits until the caster has taken every position, then starts every
    // stream with a chunk each intervalMs. base_login_mode is 1: any password.
    void StartBases(const std::vector<BasePlace>& places, int intervalMs)
    {
        vorlane.SetNtrip("base_login_mode", 1);
        ASSERT_NO_FATAL_FAILURE(StartCaster());
        ASSERT_NO_FATAL_FAILURE(LaunchBases(places, intervalMs));
    }

    // The same on a caster started already (with base_login_mode 1).
    void LaunchBases(const std::vector<BasePlace>& places, int intervalMs)
    {
        bases.resize(places.size());
        for (size_t i = 0; i < places.size(); ++i) {
            bases[i].reset(new TestClient);
            std::string reply;
            ASSERT_TRUE(RawPeers::LoginBase(bases[i].get(), Port(), places[i].mount, "any", &reply))
                << places[i].mount << ": " << Printable(reply);
            ASSERT_TRUE(bases[i]->Send(GnssFrames::Rtcm1005(static_cast<int>(i) + 1, places[i].latitude,
                                                            places[i].longitude, 20.0)));
        }
        ASSERT_TRUE(WaitCount("Add base ", static_cast<int>(places.size()), 10000))
            << "the bases' positions were never all taken";
        for (size_t i = 0; i < places.size(); ++i) {
            streams.emplace_back(new TaggedStreams::Streamer(bases[i].get(), static_cast<int>(i) + 1, intervalMs));
            streams.back()->Start();
        }
    }

    // The stretches of a rover's bytes so far, up to the last whole chunk;
    // false (with *error) for bytes that are not whole chunks in order.
    static bool Judge(const std::string& bytes, std::vector<TaggedStreams::Stretch>* stretches, std::string* error)
    {
        std::vector<TaggedStreams::Tag> tags;
        stretches->clear();
        return TaggedStreams::Parse(WholeFrames(bytes), &tags, error) &&
               TaggedStreams::Stretches(tags, stretches, error);
    }

    // Reads the rover until its stretches satisfy done (or timeoutMs
    // passes); fails the test on bytes that are not whole chunks in order.
    template <typename Done>
    std::vector<TaggedStreams::Stretch> ReadStretches(TestClient* rover, std::string* all, Done done,
                                                      int timeoutMs = 5000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<TaggedStreams::Stretch> stretches;
        for (;;) {
            *all += rover->ReadAvailable(50);
            std::string error;
            if (!Judge(*all, &stretches, &error)) {
                ADD_FAILURE() << error << "; stretches " << TaggedStreams::Describe(stretches);
                return stretches;
            }
            if (done(stretches) || std::chrono::steady_clock::now() >= end) return stretches;
        }
    }

    // The bytes up to the end of the last whole frame; all of them when
    // something that starts no frame is in the way (Parse then says where).
    static std::string WholeFrames(const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            if (static_cast<unsigned char>(bytes[at]) != 0xD3) return bytes;
            if (at + 3 > bytes.size()) break;
            size_t length =
                (static_cast<size_t>(bytes[at + 1] & 0x03) << 8) | static_cast<unsigned char>(bytes[at + 2]);
            if (at + 6 + length > bytes.size()) break;
            at += 6 + length;
        }
        return bytes.substr(0, at);
    }

    // The exact bytes the stretches stand for.
    static std::string Expected(const std::vector<TaggedStreams::Stretch>& stretches)
    {
        std::string out;
        for (const TaggedStreams::Stretch& r : stretches) {
            for (uint32_t s = r.first; s <= r.last; ++s) out += TaggedStreams::Frame(r.base, s);
        }
        return out;
    }

    void StopStreams()
    {
        for (auto& s : streams) s->Stop();
    }

    void TearDown() override
    {
        StopStreams();
        CasterTest::TearDown();
    }

    std::vector<std::unique_ptr<TestClient>> bases;
    std::vector<std::unique_ptr<TaggedStreams::Streamer>> streams;
};
