#include "services/HttpConnectionLimit.h"

#include "runtime/Log.h"

#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/listener.h>

HttpConnectionLimit::HttpConnectionLimit(struct event_base* base, struct evhttp* http, int cap, const char* logName)
    : base_(base), http_(http), cap_(cap > 0 ? cap : 1), logName_(logName)
{
    adopt_ = event_new(base_, -1, 0, AdoptPending, this);
    if (!adopt_) Log_Fatal("%s:new event fail,abort", logName_);
    evhttp_set_bevcb(http_, NewConnection, this);
}

HttpConnectionLimit::~HttpConnectionLimit()
{
    Release();
    for (struct bufferevent* bev : pending_) bufferevent_decref(bev);
    pending_.clear();
    event_free(adopt_);
}

void HttpConnectionLimit::Release()
{
    refusing_ = false;
    listener_ = nullptr;
    // Made without close-on-free: the socket is the server's.
    if (refuser_) evconnlistener_free(refuser_);
    refuser_ = nullptr;
}

int HttpConnectionLimit::Bind(const char* ip, uint16_t port)
{
    struct evhttp_bound_socket* bound = evhttp_bind_socket_with_handle(http_, ip, port);
    if (!bound) return -1;
    listener_ = evhttp_bound_socket_get_listener(bound);
    // A second, disabled listener on the server's socket; the server's own
    // closes the socket when it goes.
    refuser_ = evconnlistener_new(base_, Refuse, this, LEV_OPT_DISABLED, 0, evhttp_bound_socket_get_fd(bound));
    if (!refuser_) {
        // Over the cap new connections then wait in the kernel's backlog.
        Log_Error("%s:cannot make the refusing listener", logName_);
    }
    return 0;
}

struct bufferevent* HttpConnectionLimit::NewConnection(struct event_base* base, void* arg)
{
    HttpConnectionLimit* self = static_cast<HttpConnectionLimit*>(arg);
    // What evhttp makes itself when there is no callback.
    struct bufferevent* bev = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
    if (!bev) return nullptr;  // evhttp tries its own; that one goes uncounted
    // Our reference keeps the structure readable until AdoptPending, even if
    // evhttp gives up on the connection before that.
    bufferevent_incref(bev);
    self->pending_.push_back(bev);
    ++self->open_;
    event_active(self->adopt_, EV_TIMEOUT, 0);
    if (self->open_ >= self->cap_) self->StartRefusing();
    return bev;
}

void HttpConnectionLimit::AdoptPending(evutil_socket_t, short, void* arg)
{
    HttpConnectionLimit* self = static_cast<HttpConnectionLimit*>(arg);
    std::vector<struct bufferevent*> pending;
    pending.swap(self->pending_);
    for (struct bufferevent* bev : pending) {
        bufferevent_data_cb readCb = nullptr;
        bufferevent_data_cb writeCb = nullptr;
        bufferevent_event_cb eventCb = nullptr;
        void* cbArg = nullptr;
        bufferevent_getcb(bev, &readCb, &writeCb, &eventCb, &cbArg);
        // evhttp hands its connection to the callbacks of its bufferevent; a
        // freed bufferevent has none.
        struct evhttp_connection* connection = static_cast<struct evhttp_connection*>(cbArg);
        if (readCb && connection && evhttp_connection_get_bufferevent(connection) == bev) {
            evhttp_connection_set_closecb(connection, Closed, self);
        } else {
            self->Uncount();
        }
        bufferevent_decref(bev);
    }
}

void HttpConnectionLimit::Closed(struct evhttp_connection*, void* arg) { static_cast<HttpConnectionLimit*>(arg)->Uncount(); }

void HttpConnectionLimit::Uncount()
{
    if (open_ > 0) --open_;
    if (refusing_ && open_ < cap_) StopRefusing();
}

void HttpConnectionLimit::StartRefusing()
{
    if (refusing_) return;
    refusing_ = true;
    if (listener_) evconnlistener_disable(listener_);
    if (refuser_) evconnlistener_enable(refuser_);
}

void HttpConnectionLimit::StopRefusing()
{
    if (!refusing_) return;
    refusing_ = false;
    if (refuser_) evconnlistener_disable(refuser_);
    if (listener_) evconnlistener_enable(listener_);
}

void HttpConnectionLimit::Refuse(struct evconnlistener*, evutil_socket_t fd, struct sockaddr*, int, void* arg)
{
    HttpConnectionLimit* self = static_cast<HttpConnectionLimit*>(arg);
    evutil_closesocket(fd);
    ++self->refusedSinceLine_;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (self->logged_ && now - self->lastLine_ < std::chrono::seconds(1)) return;
    Log_Warn("%s:%d connections open, new connections refused (%llu since the last line)", self->logName_,
             self->open_, static_cast<unsigned long long>(self->refusedSinceLine_));
    self->refusedSinceLine_ = 0;
    self->lastLine_ = now;
    self->logged_ = true;
}
