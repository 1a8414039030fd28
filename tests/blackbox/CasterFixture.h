// The fixture of the caster stories: one vorlane per test case. A test adds
// its accounts and settings, then calls StartCaster(). At the end the caster
// must still be running and must end with status 0 on SIGTERM; when anything
// failed, its daily log and stderr are printed.
#pragma once

#include "blackbox/RawPeers.h"
#include "blackbox/VorlaneInstance.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

// Bytes as text for failure messages: control bytes escaped, long texts cut.
inline std::string Printable(const std::string& bytes, size_t limit = 400)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && out.size() < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.size() >= limit) out += "...";
    return "\"" + out + "\" (" + std::to_string(bytes.size()) + " bytes)";
}

// Where two byte strings first differ, for long streams.
inline std::string FirstDifference(const std::string& got, const std::string& want)
{
    size_t n = std::min(got.size(), want.size());
    size_t at = 0;
    while (at < n && got[at] == want[at]) ++at;
    if (at == n && got.size() == want.size()) return "equal";
    return "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size()) +
           "; first difference at byte " + std::to_string(at);
}

class CasterTest : public ::testing::Test {
protected:
    void StartCaster()
    {
        ASSERT_TRUE(vorlane.Ready()) << vorlane.Error();
        ASSERT_TRUE(vorlane.Start()) << "the caster port never accepted\n" << vorlane.Diagnostics();
        started_ = true;
    }

    // The caster, and its HTTP inspector listening.
    void StartCasterWithInspector()
    {
        ASSERT_TRUE(vorlane.Ready()) << vorlane.Error();
        ASSERT_TRUE(vorlane.StartWithInspector()) << "the caster or its inspector never listened\n"
                                                  << vorlane.Diagnostics();
        started_ = true;
    }

    // How the fixture starts the caster; one with more to start says so.
    virtual void StartServing() { StartCaster(); }

    // The opening of most stories: the caster started, and a base logged in
    // with "SOURCE" and answered "ICY 200 OK".
    void StartWithBase(TestClient* base, const std::string& mount, const std::string& password)
    {
        ASSERT_NO_FATAL_FAILURE(StartServing());
        std::string reply;
        ASSERT_TRUE(RawPeers::LoginBase(base, Port(), mount, password, &reply)) << mount << ": " << Printable(reply);
    }

    int Port() const { return vorlane.CasterPort(); }

    // Waits until the log holds text at least n times.
    bool WaitCount(const std::string& text, int n, int timeoutMs = 5000)
    {
        return WaitFor([&] { return vorlane.CountInLog(text) >= n; }, timeoutMs);
    }

    void TearDown() override
    {
        if (started_ && stopAtEnd_) {
            if (!vorlane.Running()) {
                ADD_FAILURE() << "vorlane ended during the test: " << vorlane.WaitExit(0).Describe();
            } else {
                ExitStatus status = vorlane.Stop(SIGTERM, 10000);
                EXPECT_TRUE(status.Success()) << "SIGTERM: " << status.Describe();
            }
        }
        if (HasFailure()) std::cerr << vorlane.Diagnostics() << std::endl;
    }

    VorlaneInstance vorlane;
    bool stopAtEnd_ = true;

private:
    bool started_ = false;
};
