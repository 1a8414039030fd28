#include "services/HttpInspector.h"

#include "caster/centre/Vorlane.h"
#include "net/EventLoop.h"
#include "platform/Thread.h"
#include "runtime/Log.h"
#include "services/HttpConnectionLimit.h"
#include "services/HttpInspectorRequest.h"
#include "services/HttpInspectorRoutes.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/event.h>
#include <event2/http.h>
#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

namespace {

// The inspector binds this long after its thread starts.
const unsigned BIND_DELAY_MS = 2000;
// No operator request comes near these; the server refuses bigger ones
// (413) before it has buffered them.
const size_t MAX_BODY_BYTES = 1024 * 1024;
const size_t MAX_HEADER_BYTES = 8 * 1024;
// A connection that sends nothing, sends a request too slowly or does not
// read its answer for this long is closed.
const int IDLE_TIMEOUT_S = 30;

struct Route {
    const char* path;
    void (*handler)(struct evhttp_request*, void*);
    const char* name;
};

const Route ROUTES[] = {
    {"/xqn_user/get", UserGetCb, "UserGetCb"},
    {"/xqn_user/add", UserAddCb, "UserAddCb"},
    {"/xqn_station_stat", StationStatusCb, "StationStatusCb"},
    {"/xqn_rover_stat", RoverStatusCb, "RoverStatusCb"},
    {"/xqn_station_info", StationInfoCb, "StationInfoCb"},
    {"/xqn_rover_info", RoverInfoCb, "RoverInfoCb"},
};

// The last line behind the handlers' own checks: no exception may unwind
// into libevent's C frames (that ends the process). Every handler answers
// as its very last step, and nothing after evhttp_send_reply throws, so a
// request whose handler threw has not been answered yet.
void GuardedRoute(struct evhttp_request* request, void* arg)
{
    const Route* route = static_cast<const Route*>(arg);
    const char* what = "unknown exception";
    try {
        route->handler(request, nullptr);
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    try {
        Log_Error("%s:request failed: %s", route->name, what);
        HttpInspector_ReplyMalformed(request, route->name, "the handler failed");
    } catch (...) {
        // Out of memory even for the answer: the time-out closes the connection.
    }
}

// A stop and the inspector's thread meet under g_stopMutex: either the stop
// finds the loop's base and breaks it, or the thread sees the stop before
// its loop runs. The base is cleared here before it is freed.
std::mutex g_stopMutex;
std::condition_variable g_stopWake;
bool g_stopping = false;
struct event_base* g_runningBase = nullptr;
PlatformThread* g_thread = nullptr;

// The bind delay, cut short by a stop. False when stopping.
bool WaitBindDelay()
{
    std::unique_lock<std::mutex> lock(g_stopMutex);
    return !g_stopWake.wait_for(lock, std::chrono::milliseconds(BIND_DELAY_MS), [] { return g_stopping; });
}

void SetRunningBase(struct event_base* base)
{
    std::lock_guard<std::mutex> lock(g_stopMutex);
    g_runningBase = base;
}

bool Stopping()
{
    std::lock_guard<std::mutex> lock(g_stopMutex);
    return g_stopping;
}

// Binds the configured address and runs the loop until a stop breaks it.
// 1 when the centre has no HTTP configuration.
unsigned Serve(struct event_base* base, HttpConnectionLimit* limit)
{
    const char* me = "HttpInspectorLoop";
    if (!WaitBindDelay()) return 0;
    const HttpServerConfig* config = GetCenter() ? GetHttpServerConfig() : nullptr;
    if (!config) {
        Log_Error("%s:get config fail", me);
        return 1;
    }
    int port = static_cast<uint16_t>(config->port);
    if (!HttpInspector_IsLoopback(config->ip)) {
        Log_Warn("%s:http ip:%s is not a loopback address: the inspector has no authentication and shows every "
                 "account's password to whoever reaches it",
                 me, config->ip);
    }
    if (limit->Bind(config->ip, static_cast<uint16_t>(port)) == 0) {
        Log_Info("%s:http ip:%s, port=%d, start ok", me, config->ip, port);
    } else {
        Log_Info("%s:http ip:%s, port=%d, start fail", me, config->ip, port);
    }
    if (!Stopping()) EventLoop_Dispatch(base);
    return 0;
}

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

void HttpInspector_LogRefused(struct evhttp_request* request, const char* caller, const char* reason)
{
    char* peer = nullptr;
    ev_uint16_t port = 0;
    struct evhttp_connection* connection = evhttp_request_get_connection(request);
    if (connection) evhttp_connection_get_peer(connection, &peer, &port);
    Log_Info("%s:request from %s:%u refused: %s", caller, peer ? peer : "?", static_cast<unsigned>(port),
             reason ? reason : "");
}

void HttpInspector_ReplyMalformed(struct evhttp_request* request, const char* caller, const char* reason)
{
    HttpInspector_LogRefused(request, caller, reason);
    HttpReplyJson(request, INSPECTOR_STATUS_FAILED, INSPECTOR_MSG_MALFORMED, Json::Value(Json::arrayValue));
}

bool HttpInspector_ReadRequest(struct evhttp_request* request, Json::Value* root, const char* caller)
{
    struct evbuffer* in = evhttp_request_get_input_buffer(request);
    size_t length = in ? evbuffer_get_length(in) : 0;
    std::string body(length, '\0');
    if (length > 0) evbuffer_copyout(in, &body[0], length);
    if (!HttpInspector_ParseBody(body, root)) {
        HttpInspector_ReplyMalformed(request, caller, "the body is not a non-empty JSON object");
        return false;
    }
    return true;
}

bool HttpInspector_IsLoopback(const char* ip)
{
    if (!ip) return false;
    struct in_addr v4;
    if (inet_pton(AF_INET, ip, &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    struct in6_addr v6;
    if (inet_pton(AF_INET6, ip, &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return strcmp(ip, "localhost") == 0;
}

void StartHttpInspector()
{
    bool ok = false;
    PlatformThread* thread = Platform_BeginThread(HttpInspectorLoop, nullptr, true, &ok);
    if (!ok) {
        Log_Error("%s:cannot start the inspector thread", "StartHttpInspector");
        return;
    }
    std::lock_guard<std::mutex> lock(g_stopMutex);
    g_thread = thread;
}

bool StopHttpInspector(unsigned timeoutMs)
{
    PlatformThread* thread;
    {
        std::lock_guard<std::mutex> lock(g_stopMutex);
        g_stopping = true;
        if (g_runningBase) EventLoop_Break(g_runningBase);
        thread = g_thread;
    }
    g_stopWake.notify_all();
    if (!thread) return true;
    // A request may be waiting on the user store.
    if (!Platform_JoinThreadWithin(thread, timeoutMs)) {
        Log_Error("%s:the inspector did not end within %u ms", "StopHttpInspector", timeoutMs);
        return false;
    }
    std::lock_guard<std::mutex> lock(g_stopMutex);
    g_thread = nullptr;
    return true;
}

unsigned HttpInspectorLoop(void*)
{
    const char* me = "HttpInspectorLoop";
    struct event_base* base = EventLoop_NewBase();
    if (!base) Log_Fatal("%s:new event_base fail,abort", me);
    struct evhttp* http = evhttp_new(base);
    if (!http) Log_Fatal("%s:new evhttp fail,abort", me);
    evhttp_set_max_body_size(http, MAX_BODY_BYTES);
    evhttp_set_max_headers_size(http, MAX_HEADER_BYTES);
    evhttp_set_timeout(http, IDLE_TIMEOUT_S);
    unsigned result;
    {
        HttpConnectionLimit limit(base, http, HTTP_INSPECTOR_MAX_CONNECTIONS, me);
        for (const Route& route : ROUTES) {
            evhttp_set_cb(http, route.path, GuardedRoute, const_cast<Route*>(&route));
        }
        SetRunningBase(base);
        result = Serve(base, &limit);
        SetRunningBase(nullptr);
        // The limit's listener goes first: the server frees the socket it
        // shares, and its connections, which the limit still uncounts.
        limit.Release();
        evhttp_free(http);
    }
    EventLoop_FreeBase(base);
    return result;
}
