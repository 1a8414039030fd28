#include "decoding/NtripDecoding/NtripRequestDecode.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace NtripDecoding;

namespace {

// Log lines of cases that do not read them go to a temporary folder.
const LogCapture kLogElsewhere;

std::string Base64(const std::string& in)
{
    static const char* const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                     static_cast<unsigned char>(in[i + 2]);
        for (int k = 18; k >= 0; k -= 6) out += alphabet[(v >> k) & 63];
    }
    if (i + 1 == in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += "=";
    }
    return out;
}

// n sentences of 80 bytes each, line end included, as a rover sends them.
std::string Sentences(int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) out += "$GPGGA," + std::string(71, static_cast<char>('a' + i % 26)) + "\r\n";
    return out;
}

struct Decoded {
    bool result = false;
    size_t consumed = 0;
    std::unique_ptr<Tarnek::LogRoot> unit;
};

Decoded Decode(const std::string& bytes)
{
    Decoded d;
    Tarnek::LogRoot* unit = reinterpret_cast<Tarnek::LogRoot*>(0x1);
    d.result = Ntrip1CasterDecode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &unit,
                                  &d.consumed);
    d.unit.reset(unit);
    return d;
}

enum Expect { NONE, SERVER, CLIENT, SOURCE_LIST };

struct RequestCase {
    const char* name;
    std::string bytes;
    Expect expect;
    long consumed;  // -1: through the empty line
    std::string mount;     // server, client
    std::string user;      // client
    std::string password;  // server, client
    std::string agent;     // client; GGA text for a source list
};

const std::string kStr2StrSource = "SOURCE srcpw MNT1\r\nSource-Agent: NTRIP RTKLIB/2.4.3\r\nSTR: \r\n\r\n";
const std::string kStr2StrGet = "GET /MNT1 HTTP/1.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\nAuthorization: Basic " +
                                Base64("rover1:secret") + "\r\n\r\n";
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
const std::string kUser50(50, 'u');
const std::string kPass50(50, 'p');
const std::string kMount100(100, 'm');

std::vector<RequestCase> RequestCases()
{
    std::vector<RequestCase> cases = {
        {"str2str SOURCE", kStr2StrSource, SERVER, -1, "MNT1", "", "srcpw", ""},
        {"SOURCE with slash mount", "SOURCE pw /MNT1\r\nSource-Agent: NTRIP x\r\n\r\nrtcm", SERVER, -1, "MNT1", "",
         "pw", ""},
        {"SOURCE before a GET in the headers", "SOURCE pw MNT1\r\nSource-Agent: GET-IT\r\n\r\n", SERVER, -1, "MNT1",
         "", "pw", ""},
        {"SOURCE without password", "SOURCE /MNT1\r\n\r\n", SERVER, -1, "MNT1", "", "", ""},
        {"SOURCE with extra blanks", "SOURCE   pw   MNT1\r\n\r\n", SERVER, -1, "MNT1", "", "pw", ""},
        {"str2str GET", kStr2StrGet, CLIENT, -1, "MNT1", "rover1", "secret", " NTRIP RTKLIB/2.4.3"},
        {"GET with authorization last",
         "GET /MNT1 HTTP/1.0\r\nUser-Agent: NTRIP r\r\nAuthorization: Basic " + Base64("user:pass") + "\r\n\r\n",
         CLIENT, -1, "MNT1", "user", "pass", " NTRIP r"},
        {"GET with user agent last",
         "GET /MNT1 HTTP/1.1\r\nHost: caster\r\nAuthorization: Basic " + Base64("user:pass") +
             "\r\nUser-Agent: NTRIP GNSSInternetRadio/1.4.10\r\n\r\n",
         CLIENT, -1, "MNT1", "user", "pass", " NTRIP GNSSInternetRadio/1.4.10"},
        {"GET without headers", "GET /MNT1 HTTP/1.0\r\n\r\n", CLIENT, -1, "MNT1", "", "", ""},
        {"GET with spaced Basic",
         "GET /MNT1 HTTP/1.0\r\nAuthorization:   Basic   " + Base64("a:b") + "  \r\n\r\n", CLIENT, -1, "MNT1", "a",
         "b", ""},
        {"password holding colons", "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64("u:pa:ss") + "\r\n\r\n",
         CLIENT, -1, "M", "u", "pa:ss", ""},
        {"credential without colon", "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64("userpass") + "\r\n\r\n",
         CLIENT, -1, "M", "", "", ""},
        {"credential outside the alphabet", "GET /M HTTP/1.0\r\nAuthorization: Basic dXN!cjpwYXNz\r\n\r\n", CLIENT,
         -1, "M", "", "", ""},
        {"credential that is not Basic", "GET /M HTTP/1.0\r\nAuthorization: Digest x=1\r\n\r\n", CLIENT, -1, "M", "",
         "", ""},
        {"long credential decoded whole",
         "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64(std::string(45, 'u') + ":" + std::string(50, 'p')) +
             "\r\n\r\n",
         CLIENT, -1, "M", std::string(45, 'u'), std::string(50, 'p'), ""},
        {"fields filled whole",
         "GET /" + kMount100 + " HTTP/1.0\r\nUser-Agent:" + std::string(100, 'a') +
             "\r\nAuthorization: Basic " + Base64(kUser50 + ":" + kPass50) + "\r\n\r\n",
         CLIENT, -1, kMount100, kUser50, kPass50, std::string(100, 'a')},
        {"mount and agent beyond their width are cut, a credential that does not fit is none",
         "GET /" + std::string(130, 'm') + " HTTP/1.0\r\nUser-Agent: " + std::string(130, 'a') +
             "\r\nAuthorization: Basic " + Base64(std::string(60, 'u') + ":" + std::string(60, 'p')) + "\r\n\r\n",
         CLIENT, -1, kMount100, "", "", " " + std::string(99, 'a')},
        {"password one past its field", "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64("u:" + kPass50 + "x") +
             "\r\n\r\n", CLIENT, -1, "M", "", "", ""},
        {"user one past its field", "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64(kUser50 + "x:p") +
             "\r\n\r\n", CLIENT, -1, "M", "", "", ""},
        {"NUL in the password", "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64(std::string("u:pass\0x", 8)) +
             "\r\n\r\n", CLIENT, -1, "M", "", "", ""},
        {"NUL in the user", "GET /M HTTP/1.0\r\nAuthorization: Basic " + Base64(std::string("u\0x:pass", 8)) +
             "\r\n\r\n", CLIENT, -1, "M", "", "", ""},
        {"source list with Ntrip-GGA",
         "GET / HTTP/1.0\r\nUser-Agent: NTRIP x\r\nNtrip-GGA:   " + kGga + "\r\n\r\n", SOURCE_LIST, -1, "", "", "",
         kGga},
        {"source list with Ntrip-GGA last",
         "GET / HTTP/1.1\r\nNtrip-Version: Ntrip/2.0\r\nNtrip-GGA: " + kGga + "\r\n\r\n", SOURCE_LIST, -1, "", "",
         "", kGga},
        {"source list GGA filling its field", "GET / HTTP/1.0\r\nNtrip-GGA: " + std::string(140, 'g') + "\r\n\r\n",
         SOURCE_LIST, -1, "", "", "", std::string(128, 'g')},
        {"source list without GGA", "GET / HTTP/1.0\r\nUser-Agent: NTRIP x\r\n\r\n", SOURCE_LIST, -1, "", "", "",
         ""},
        {"GET with nothing behind the mount", "GET /MNT1\r\nUser-Agent: NTRIP x\r\n\r\n", NONE, -1, "", "", "", ""},
        {"GET without slash", "GET MNT1 HTTP/1.0\r\n\r\n", NONE, -1, "", "", "", ""},
        {"neither SOURCE nor GET", "POST /x HTTP/1.0\r\n\r\n", NONE, -1, "", "", "", ""},
        {"header block not yet complete", "GET /MNT1 HTTP/1.0\r\nUser-Agent: NTRIP x\r\n", NONE, 0, "", "", "", ""},
        {"2000 bytes without an empty line wait", std::string(2000, 'x'), NONE, 0, "", "", "", ""},
        {"2001 bytes without an empty line", std::string(2001, 'x'), NONE, 1000, "", "", "", ""},
        {"2000 bytes of sentences wait", Sentences(25), NONE, 0, "", "", "", ""},
        {"sentences past 2000 bytes lose the oldest whole ones that leave 2000", Sentences(30), NONE, 400, "", "",
         "", ""},
        {"one byte past 2000 loses the oldest line whole", "x" + Sentences(25), NONE, 81, "", "", "", ""},
        {"sentences behind a cut one lose the cut one whole", Sentences(40).substr(30), NONE, 1170, "", "", "",
         ""},
        {"sentences ending in a line longer than 2000 bytes", Sentences(5) + std::string(2100, 'x'), NONE, 1000, "",
         "", "", ""},
    };
    for (RequestCase& c : cases) {
        if (c.consumed < 0) c.consumed = static_cast<long>(c.bytes.find("\r\n\r\n") + 4);
    }
    return cases;
}

}  // namespace

TEST(Ntrip1CasterDecode, RequestTable)
{
    LogCapture log;
    for (const RequestCase& c : RequestCases()) {
        SCOPED_TRACE(c.name);
        Decoded d = Decode(c.bytes);
        EXPECT_EQ(static_cast<size_t>(c.consumed), d.consumed);
        EXPECT_EQ(c.expect != NONE, d.result);
        if (c.expect == NONE) {
            EXPECT_EQ(nullptr, d.unit.get());
            continue;
        }
        ASSERT_NE(nullptr, d.unit.get());
        EXPECT_EQ(Tarnek::LOG_KIND_NTRIP, d.unit->GetKind());
        if (c.expect == SERVER) {
            ASSERT_EQ(NTRIP_SERVER_LOGIN_REQUEST, d.unit->GetType());
            auto* r = static_cast<NtripServerLoginRequest*>(d.unit.get());
            EXPECT_EQ(c.mount, r->mountPoint);
            EXPECT_EQ(c.password, r->password);
        } else if (c.expect == CLIENT) {
            ASSERT_EQ(NTRIP_CLIENT_LOGIN_REQUEST, d.unit->GetType());
            auto* r = static_cast<NtripClientLoginRequest*>(d.unit.get());
            EXPECT_EQ(c.mount, r->mountPoint);
            EXPECT_EQ(c.user, r->user);
            EXPECT_EQ(c.password, r->password);
            EXPECT_EQ(c.agent, r->userAgent);
            BinaryLoginRecord zero = {};
            EXPECT_EQ(0, memcmp(&zero, &r->binaryLogin, sizeof(zero)));
        } else {
            ASSERT_EQ(NTRIP_GET_SOURCE_LIST_REQUEST, d.unit->GetType());
            auto* r = static_cast<NtripGetSourceListRequest*>(d.unit.get());
            EXPECT_EQ(c.agent, r->gga);
        }
    }
    EXPECT_TRUE(log.Has(
        "[info] NtripDecoding::Ntrip1CasterDecode: Unknow login request, wrong message, no SOURCE, no GET"));
}

TEST(Ntrip1CasterDecode, RequestsArrivingInPiecesDecodeOnceWhole)
{
    // A rover whose request is split over several reads: each prefix waits.
    for (size_t cut = 1; cut < kStr2StrGet.size(); ++cut) {
        Decoded d = Decode(kStr2StrGet.substr(0, cut));
        ASSERT_FALSE(d.result) << cut;
        ASSERT_EQ(0u, d.consumed) << cut;
    }
    Decoded d = Decode(kStr2StrGet + "$GPGGA,...");
    ASSERT_TRUE(d.result);
    EXPECT_EQ(kStr2StrGet.size(), d.consumed);
}

// The caster's login decode: a header block that makes no request comes out
// as an unknown request (so the caster can count them); everything else is
// as Ntrip1CasterDecode has it.
TEST(NtripLoginDecode, HeaderBlocksThatMakeNoRequestComeOutAsUnknown)
{
    struct Case {
        const char* name;
        std::string input;
        bool unknown;
    } cases[] = {
        {"blank lines", "\r\n\r\n\r\n", true},
        {"neither SOURCE nor GET", "HELLO\r\n\r\n", true},
        {"GET without a path", "GET nothing\r\n\r\n", true},
        {"GET without a blank behind the mount", "GET /MNT1\r\n\r\n", true},
        {"no empty line yet", "GET /MNT1 HTTP/1.0\r\n", false},
        {"over 2000 bytes without one", std::string(2500, 'x'), false},
        {"sentences over 2000 bytes", Sentences(30), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tarnek::LogRoot* unit = nullptr;
        size_t consumed = 0, plainConsumed = 0;
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(c.input.data());
        bool got = NtripLoginDecode(bytes, c.input.size(), &unit, &consumed);
        std::unique_ptr<Tarnek::LogRoot> owned(unit);
        Tarnek::LogRoot* plain = nullptr;
        EXPECT_FALSE(Ntrip1CasterDecode(bytes, c.input.size(), &plain, &plainConsumed));
        EXPECT_EQ(consumed, plainConsumed);
        EXPECT_EQ(got, c.unknown);
        if (c.unknown) {
            ASSERT_TRUE(unit);
            EXPECT_EQ(NTRIP_UNKNOW_LOGIN_REQUEST, unit->GetType());
        }
    }
    Decoded good = Decode(kStr2StrGet);
    Tarnek::LogRoot* unit = nullptr;
    size_t consumed = 0;
    ASSERT_TRUE(NtripLoginDecode(reinterpret_cast<const unsigned char*>(kStr2StrGet.data()), kStr2StrGet.size(),
                                 &unit, &consumed));
    std::unique_ptr<Tarnek::LogRoot> owned(unit);
    EXPECT_EQ(NTRIP_CLIENT_LOGIN_REQUEST, unit->GetType());
    EXPECT_EQ(good.consumed, consumed);
}

TEST(Ntrip1CasterDecode, RejectsMissingArguments)
{
    Tarnek::LogRoot* unit = nullptr;
    size_t consumed = 99;
    EXPECT_FALSE(Ntrip1CasterDecode(nullptr, 10, &unit, &consumed));
    EXPECT_EQ(0u, consumed);
    EXPECT_FALSE(Ntrip1CasterDecode(reinterpret_cast<const unsigned char*>("x"), 0, &unit, &consumed));
    EXPECT_EQ(nullptr, unit);
}

TEST(NtripUnits, CloneCopiesEveryField)
{
    NtripClientLoginRequest client;
    snprintf(client.mountPoint, sizeof(client.mountPoint), "%s", kMount100.c_str());
    snprintf(client.user, sizeof(client.user), "%s", "7_70196_AS");
    memcpy(client.password, "\x07\x00\x34\x12\x01\x81", 6);
    snprintf(client.userAgent, sizeof(client.userAgent), "%s", " NTRIP x");
    client.binaryLogin.byte3 = 3;
    client.binaryLogin.word4 = 0x0504;
    client.binaryLogin.userNumber = 7;
    client.binaryLogin.word8 = 0x1234;
    client.binaryLogin.byte10 = 1;
    client.binaryLogin.flags = 0x81;
    client.binaryLogin.length = 199;
    client.binaryLogin.frameType = 1;
    for (int i = 0; i < BINARY_LOGIN_PAYLOAD_MAX; ++i) client.binaryLogin.payload[i] = static_cast<unsigned char>(i);
    client.binaryLogin.payloadLength = 199;

    std::unique_ptr<Tarnek::LogRoot> copy(client.Clone());
    ASSERT_NE(nullptr, copy.get());
    ASSERT_EQ(Tarnek::LOG_KIND_NTRIP, copy->GetKind());
    ASSERT_EQ(NTRIP_CLIENT_LOGIN_REQUEST, copy->GetType());
    auto* c = static_cast<NtripClientLoginRequest*>(copy.get());
    EXPECT_EQ(0, memcmp(client.mountPoint, c->mountPoint, sizeof(c->mountPoint)));
    EXPECT_EQ(0, memcmp(client.user, c->user, sizeof(c->user)));
    EXPECT_EQ(0, memcmp(client.password, c->password, sizeof(c->password)));
    EXPECT_EQ(0, memcmp(client.userAgent, c->userAgent, sizeof(c->userAgent)));
    EXPECT_EQ(0, memcmp(&client.binaryLogin, &c->binaryLogin, sizeof(c->binaryLogin)));

    NtripServerLoginRequest server;
    snprintf(server.mountPoint, sizeof(server.mountPoint), "MNT1");
    snprintf(server.password, sizeof(server.password), "pw");
    std::unique_ptr<Tarnek::LogRoot> serverCopy(server.Clone());
    ASSERT_EQ(NTRIP_SERVER_LOGIN_REQUEST, serverCopy->GetType());
    EXPECT_STREQ("MNT1", static_cast<NtripServerLoginRequest*>(serverCopy.get())->mountPoint);
    EXPECT_STREQ("pw", static_cast<NtripServerLoginRequest*>(serverCopy.get())->password);

    NtripGetSourceListRequest list;
    snprintf(list.gga, sizeof(list.gga), "%s", kGga.c_str());
    std::unique_ptr<Tarnek::LogRoot> listCopy(list.Clone());
    ASSERT_EQ(NTRIP_GET_SOURCE_LIST_REQUEST, listCopy->GetType());
    EXPECT_EQ(kGga, static_cast<NtripGetSourceListRequest*>(listCopy.get())->gga);

    NtripUnknowLoginRequest unknown;
    std::unique_ptr<Tarnek::LogRoot> unknownCopy(unknown.Clone());
    EXPECT_EQ(Tarnek::LOG_KIND_NTRIP, unknownCopy->GetKind());
    EXPECT_EQ(NTRIP_UNKNOW_LOGIN_REQUEST, unknownCopy->GetType());
}

TEST(Ntrip1CasterDecode, MutatedRequestsKeepTheContract)
{
    // Seeded mutations of real requests: every result must keep the decode
    // contract and leave every text terminated inside its field.
    std::vector<std::string> seeds = {kStr2StrSource, kStr2StrGet,
                                      "GET / HTTP/1.0\r\nNtrip-GGA: " + kGga + "\r\n\r\n",
                                      "GET /" + kMount100 + " HTTP/1.0\r\nUser-Agent:" + std::string(100, 'a') +
                                          "\r\nAuthorization: Basic " + Base64(kUser50 + ":" + kPass50) + "\r\n\r\n"};
    const char alphabet[] = {'\r', '\n', ' ', '/', ':', '=', 'A', '\0', '\xAA', '\x55', '\xDD', 'G', 'S'};
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string s = seeds[next() % seeds.size()];
        int edits = 1 + next() % 6;
        for (int k = 0; k < edits && !s.empty(); ++k) {
            size_t at = next() % s.size();
            switch (next() % 4) {
            case 0: s[at] = alphabet[next() % sizeof(alphabet)]; break;
            case 1: s.erase(at, 1 + next() % 8); break;
            case 2: s.insert(at, std::string(1 + next() % 40, alphabet[next() % sizeof(alphabet)])); break;
            default: s = s.substr(0, at); break;
            }
        }
        Decoded d = Decode(s);
        ASSERT_LE(d.consumed, s.size());
        ASSERT_EQ(d.result, d.unit != nullptr);
        if (!d.unit) continue;
        if (d.unit->GetType() == NTRIP_SERVER_LOGIN_REQUEST) {
            auto* r = static_cast<NtripServerLoginRequest*>(d.unit.get());
            ASSERT_EQ(0, r->mountPoint[NTRIP_MOUNT_POINT_LEN]);
            ASSERT_EQ(0, r->password[NTRIP_PASSWORD_LEN]);
        } else if (d.unit->GetType() == NTRIP_CLIENT_LOGIN_REQUEST) {
            auto* r = static_cast<NtripClientLoginRequest*>(d.unit.get());
            ASSERT_EQ(0, r->mountPoint[NTRIP_MOUNT_POINT_LEN]);
            ASSERT_EQ(0, r->user[NTRIP_USER_LEN]);
            ASSERT_EQ(0, r->password[NTRIP_PASSWORD_LEN]);
            ASSERT_EQ(0, r->userAgent[NTRIP_USER_AGENT_LEN]);
        } else {
            ASSERT_EQ(NTRIP_GET_SOURCE_LIST_REQUEST, d.unit->GetType());
            ASSERT_EQ(0, static_cast<NtripGetSourceListRequest*>(d.unit.get())->gga[NTRIP_GGA_LEN]);
        }
    }
}
