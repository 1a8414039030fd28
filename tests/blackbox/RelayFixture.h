// The fixture of the relay stories: one vorlane per test case with a
// "RelayAccount.list" written by the test, upstream casters on loopback
// (FakeUpstream, or str2str's own caster), and, when a case asks for one, an
// authentication centre named in "AuthCentre.json".
//
// The harness copies "AuthCentre.json" from the source tree's defaults at
// every start, so the fixture points VORLANE_SOURCE_DIR at a tree of its own
// (the real schema and configuration defaults, and an "AuthCentre.json" the
// test may rewrite) before the caster's folder is made.
#pragma once

#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/NtripTexts.h"
#include "blackbox/RawPeers.h"
#include "support/FakeUpstream.h"
#include "support/Files.h"
#include "support/HeldPort.h"
#include "support/TempDir.h"
#include "support/TestEnv.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The 5000 ms tick that restarts system relays, and the time a test allows
// past it for the relay to reach the upstream (a sanitizer build is slow).
const int kTickMs = 5000;
const int kTickSlackMs = 2500;
// The relay client's wait for the upstream's answer.
const int kRelayReplyTimeoutMs = 30000;

// A source tree of the fixture's own, made before the caster's folder.
class RelaySourceTree {
public:
    RelaySourceTree()
    {
        namespace fs = std::filesystem;
        std::string real = TestSourceDir();
        std::error_code ec;
        fs::create_directories(tree_.File("config/defaults"), ec);
        fs::create_directory_symlink(real + "/schema", tree_.File("schema"), ec);
        fs::copy_file(real + "/config/defaults/VorlaneConfig.json", tree_.File("config/defaults/VorlaneConfig.json"),
                      ec);
        fs::copy_file(real + "/config/defaults/AuthCentre.json", tree_.File("config/defaults/AuthCentre.json"), ec);
        setenv("VORLANE_SOURCE_DIR", tree_.Path().c_str(), 1);
    }

    // The "AuthCentre.json" of the next start: a centre at url.
    bool UseAuthCentre(const std::string& url)
    {
        return WriteFile(tree_.File("config/defaults/AuthCentre.json"),
                         "{\n\t\"auth_centre\":\t{\n\t\t\"url\":\t\"" + url + "\"\n\t}\n}\n");
    }

private:
    TempDir tree_;
};

// Base classes are made in order: the tree (and its environment) first.
class RelayTest : private RelaySourceTree, public CasterTest {
protected:
    // A port nobody answers on, for the rest of the test.
    int RefusedPort()
    {
        refusing_.emplace_back(new HeldPort(HeldPort::kRefusing));
        return refusing_.back()->Port();
    }

    // "-sys" line of a system mount served from 127.0.0.1 (or host).
    static std::string SystemLine(const std::string& local, int port, const std::string& upstreamMount,
                                  const std::string& credentials, const std::string& host = "127.0.0.1")
    {
        return "-sys -startup -i " + credentials + " -m /" + local + " " + host + ":" + std::to_string(port) + "/" +
               upstreamMount + " -g 39.12 -121.04 20.0 1\n";
    }
    // "-trd" line of one shared account for a relay mount.
    static std::string SharedLine(const std::string& local, int port, const std::string& upstreamMount,
                                  const std::string& credentials)
    {
        return "-trd -i " + credentials + " -m /" + local + " 127.0.0.1:" + std::to_string(port) + "/" +
               upstreamMount + "\n";
    }

    // The NTRIP 1.0 request a relay sends for the account.
    static std::string RelayRequest(const std::string& upstreamMount, const std::string& credentials)
    {
        return "GET /" + upstreamMount + " HTTP/1.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\nAuthorization: Basic " +
               NtripTexts::Base64(credentials) + "\r\n\r\n";
    }

    bool WriteRelayList(const std::string& text)
    {
        return WriteFile(vorlane.File("RelayAccount.list"), "# relay mounts of this test\n" + text + "END OF LIST\n");
    }

    bool UseAuthCentre(const std::string& url) { return RelaySourceTree::UseAuthCentre(url); }

    // The caster's open descriptors.
    int OpenFileCount() const { return vorlane.OpenFileCount(); }

    // A rover logged in on mount with its own account (made before the start).
    bool LoginRover(TestClient* rover, const std::string& mount, const std::string& user,
                    std::string* reply = nullptr)
    {
        return RawPeers::LoginRover(rover, Port(), mount, user, "pw-" + user, reply);
    }
    bool AddRover(const std::string& user) { return vorlane.AddRoverAccount(user, "pw-" + user); }

    // A GGA sentence with its line end.
    static std::string GgaLine(double latitude, double longitude)
    {
        return GnssFrames::Gga(latitude, longitude, 20.0) + "\r\n";
    }

private:
    std::vector<std::unique_ptr<HeldPort>> refusing_;
};
