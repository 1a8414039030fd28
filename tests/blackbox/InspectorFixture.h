// The fixture of the operator's stories at the HTTP inspector: the caster
// with its inspector listening, requests made with curl, and the checks of
// the JSON envelope every answer comes in.
#pragma once

#include "blackbox/CasterFixture.h"
#include "blackbox/ToolPeers.h"

#include <json/json.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

inline const std::string kMalformed = "请求格式不正确";

struct Answer {
    bool ran = false;
    int http = 0;
    std::string raw;
    Json::Value json;
};

class BlackboxInspector : public CasterTest {
protected:
    // The caster, then the inspector: it binds 2 s after the start.
    void StartInspector()
    {
        ASSERT_NO_FATAL_FAILURE(StartCasterWithInspector());
        ASSERT_TRUE(WaitFor([&] { return PortAccepts(vorlane.HttpPort(), 200); }, 10000, 50))
            << "the inspector never listened";
        EXPECT_TRUE(vorlane.WaitForLog("HttpInspectorLoop:http ip:127.0.0.1, port=" +
                                       std::to_string(vorlane.HttpPort()) + ", start ok"));
    }

    Answer Ask(const std::string& route, const std::string& body)
    {
        ToolPeers::CurlReply reply = ToolPeers::CurlPost(vorlane.Dir(), vorlane.HttpPort(), route, body);
        Answer answer;
        answer.ran = reply.ran;
        answer.http = reply.httpStatus;
        answer.raw = reply.body;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        if (!reader->parse(reply.body.data(), reply.body.data() + reply.body.size(), &answer.json, &errors)) {
            answer.json = Json::Value();
        }
        return answer;
    }

    // The envelope: exactly data (an array), message and status, on one
    // line followed by one newline, with the HTTP status that goes with it.
    static void ExpectEnvelope(const Answer& a, int status, const std::string& message, const std::string& context)
    {
        ASSERT_TRUE(a.ran) << context;
        EXPECT_EQ(a.http, status >= 0 ? 200 : 400) << context;
        ASSERT_TRUE(a.json.isObject()) << context << ": " << Printable(a.raw);
        EXPECT_EQ(a.json.getMemberNames(), (std::vector<std::string>{"data", "message", "status"})) << context;
        EXPECT_TRUE(a.json["data"].isArray()) << context;
        EXPECT_EQ(a.json["status"].asInt(), status) << context << ": " << Printable(a.raw);
        EXPECT_EQ(a.json["message"].asString(), message) << context << ": " << Printable(a.raw);
        EXPECT_EQ(a.raw.find('\n'), a.raw.size() - 1) << context;
        if (status < 0) {
            EXPECT_TRUE(a.json["data"].empty()) << context;
        }
    }

    static std::set<std::string> Names(const Json::Value& data, const char* member)
    {
        std::set<std::string> names;
        for (const Json::Value& item : data) names.insert(item[member].asString());
        return names;
    }

    static std::string AddBody(const std::string& members) { return "{\"data\":[{" + members + "}]}"; }

    // Polls a route until pred holds for its answer (true) or 5 s pass.
    template <typename Pred>
    bool WaitAnswer(const std::string& route, const std::string& body, Pred pred, Answer* last)
    {
        return WaitFor([&] {
            *last = Ask(route, body);
            return pred(*last);
        }, 5000, 100);
    }
};
