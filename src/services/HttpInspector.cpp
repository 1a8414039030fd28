#include "services/HttpInspector.h"

#include "caster/centre/Vorlane.h"
#include "net/EventLoop.h"
#include "platform/Thread.h"
#include "runtime/Log.h"
#include "services/HttpInspectorRequest.h"
#include "services/HttpInspectorRoutes.h"

#include <event2/buffer.h>
#include <event2/event.h>
#include <event2/http.h>

#include <memory>
#include <string>

namespace {

// The inspector binds this long after its thread starts.
const unsigned BIND_DELAY_MS = 2000;
// No operator request comes near this; a bigger body is refused by the server.
const size_t MAX_BODY_BYTES = 1024 * 1024;

std::string CompactJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // the texts go out as UTF-8 bytes, not \u escapes
    return Json::writeString(builder, value) + "\n";
}

}  // namespace

void HttpReplyJson(struct evhttp_request* request, int status, const char* message, const Json::Value& data,
                   const char* caller)
{
    Json::Value envelope(Json::objectValue);
    envelope["data"] = data;
    envelope["message"] = message;
    envelope["status"] = status;
    std::string text = CompactJson(envelope);

    struct evbuffer* out = evbuffer_new();
    if (!out) Log_Fatal("%s:new evbuffer fail,abort", caller);
    evbuffer_add(out, text.data(), text.size());
    // Declared, so clients do not read the UTF-8 texts as the server's
    // default ISO-8859-1.
    evhttp_add_header(evhttp_request_get_output_headers(request), "Content-Type", "application/json; charset=UTF-8");
    if (status >= 0) {
        evhttp_send_reply(request, HTTP_OK, "OK", out);
    } else {
        evhttp_send_reply(request, HTTP_BADREQUEST, "Bad Request", out);
    }
    evbuffer_free(out);
}

void HttpInspector_ReplyMalformed(struct evhttp_request* request)
{
    HttpReplyJson(request, INSPECTOR_STATUS_FAILED, INSPECTOR_MSG_MALFORMED, Json::Value(Json::arrayValue));
}

bool HttpInspector_ReadRequest(struct evhttp_request* request, Json::Value* root)
{
    struct evbuffer* in = evhttp_request_get_input_buffer(request);
    size_t length = in ? evbuffer_get_length(in) : 0;
    std::string body(length, '\0');
    if (length > 0) evbuffer_copyout(in, &body[0], length);
    if (!HttpInspector_ParseBody(body, root)) {
        HttpInspector_ReplyMalformed(request);
        return false;
    }
    return true;
}

void StartHttpInspector()
{
    bool ok = false;
    Platform_BeginThread(HttpInspectorLoop, nullptr, false, &ok);
    if (!ok) Log_Error("%s:cannot start the inspector thread", "StartHttpInspector");
}

unsigned HttpInspectorLoop(void*)
{
    const char* me = "HttpInspectorLoop";
    struct event_base* base = EventLoop_NewBase();
    if (!base) Log_Fatal("%s:new event_base fail,abort", me);
    struct evhttp* http = evhttp_new(base);
    if (!http) Log_Fatal("%s:new evhttp fail,abort", me);
    evhttp_set_max_body_size(http, MAX_BODY_BYTES);

    evhttp_set_cb(http, "/xqn_user/get", UserGetCb, nullptr);
    evhttp_set_cb(http, "/xqn_user/add", UserAddCb, nullptr);
    evhttp_set_cb(http, "/xqn_station_stat", StationStatusCb, nullptr);
    evhttp_set_cb(http, "/xqn_rover_stat", RoverStatusCb, nullptr);
    evhttp_set_cb(http, "/xqn_station_info", StationInfoCb, nullptr);
    evhttp_set_cb(http, "/xqn_rover_info", RoverInfoCb, nullptr);

    Platform_Sleep(BIND_DELAY_MS);

    const HttpServerConfig* config = GetCenter() ? GetHttpServerConfig() : nullptr;
    if (!config) {
        Log_Error("%s:get config fail", me);
        evhttp_free(http);
        EventLoop_FreeBase(base);
        return 1;
    }
    int port = static_cast<uint16_t>(config->port);
    if (evhttp_bind_socket(http, config->ip, static_cast<uint16_t>(port)) == 0) {
        Log_Info("%s:http ip:%s, port=%d, start ok", me, config->ip, port);
    } else {
        Log_Info("%s:http ip:%s, port=%d, start fail", me, config->ip, port);
    }
    EventLoop_Dispatch(base);
    return 0;
}
