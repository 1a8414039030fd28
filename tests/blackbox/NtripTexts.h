// The caster's replies as peers see them, byte for byte, and the requests the
// test peers send.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace NtripTexts {

const std::string kIcyOk = "ICY 200 OK\r\n\r\n";
const std::string kBadPassword = "ERROR - Bad Password\r\n";
const std::string kMountTaken = "ERROR - Mount Point Taken or Invalid\r\n";
const std::string kKeepAlive = "XQN200\r\n";
const std::string kTableEnd = "ENDSOURCETABLE\r\n\r\n";

// Realm texts of the rover refusals; an expired account's realm is the
// requested mount point.
const std::string kRealmBadUser = "Error - Bad User";
const std::string kRealmBadPassword = "Error - Bad Password";

inline std::string Refusal401(const std::string& realm)
{
    return "HTTP/1.0 401 Unauthorized\r\n"
           "Server: RedivEvurer/1.0\r\n"
           "WWW - Authenticate: Basic realm=\"" +
           realm +
           "\"\r\n"
           "Content-Type: text/html\r\n"
           "Connection: close\r\n"
           "\r\n";
}

inline std::string StrLine(const std::string& name)
{
    return "STR;" + name + ";" + name + ";" + name +
           ";1(1),3(10),18(1),19(1);2;GNSS;RVZ;CHN;0.00;0.00;1;1;RVZ;none;B;N;9600;\r\n";
}

// The table of the named online bases, in this order, then the "NEAREST"
// line (listed while broadcast_nearest is 1), dated with the given text.
inline std::string SourceTable(const std::vector<std::string>& names, const std::string& date, bool nearest = true)
{
    std::string body;
    for (const std::string& n : names) body += StrLine(n);
    if (nearest) body += StrLine("NEAREST");
    return "SOURCETABLE 200 OK\r\n"
           "Server: RVZ_v0.8/2016\r\n"
           "Date: " +
           date +
           "\r\n"
           "Content-Type: text/plain\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body + kTableEnd;
}

// The Date value of a received table ("" when it has none).
inline std::string TableDate(const std::string& table)
{
    const std::string key = "\r\nDate: ";
    size_t at = table.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    size_t end = table.find("\r\n", at);
    return end == std::string::npos ? "" : table.substr(at, end - at);
}

// "YYYY/MM/DD hh:mm:ss", zero-padded.
inline bool IsTableDate(const std::string& date)
{
    int y, mo, d, h, mi, s;
    char tail;
    if (date.size() != 19) return false;
    if (sscanf(date.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
    return date[4] == '/' && date[7] == '/' && date[10] == ' ' && date[13] == ':' && date[16] == ':' && mo >= 1 &&
           mo <= 12 && d >= 1 && d <= 31 && h < 24 && mi < 60 && s < 61;
}

inline std::string Base64(const std::string& in)
{
    static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                     static_cast<unsigned char>(in[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i + 1 == in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// A base's login, as NTRIP 1.0 servers send it.
inline std::string SourceRequest(const std::string& password, const std::string& mount)
{
    return "SOURCE " + password + " " + mount + "\r\nSource-Agent: NTRIP VorlaneTest/1.0\r\nSTR: \r\n\r\n";
}

// A rover's login with Basic authorization.
inline std::string GetRequest(const std::string& mount, const std::string& user, const std::string& password,
                              const std::string& agent = "NTRIP VorlaneTest/1.0")
{
    return "GET /" + mount + " HTTP/1.0\r\nUser-Agent: " + agent + "\r\nAuthorization: Basic " +
           Base64(user + ":" + password) + "\r\n\r\n";
}

// A request for the source table, optionally with the requester's position.
inline std::string SourceTableRequest(const std::string& gga = "")
{
    std::string r = "GET / HTTP/1.0\r\nUser-Agent: NTRIP VorlaneTest/1.0\r\n";
    if (!gga.empty()) r += "Ntrip-GGA: " + gga + "\r\n";
    return r + "\r\n";
}

}  // namespace NtripTexts
