// At most a fixed number of open connections on one evhttp server, so that
// idle HTTP clients can never take the descriptors the caster port needs.
//
// libevent 2.1's evhttp has no cap and no hook that can refuse a connection
// at accept (evhttp_set_newreqcb came with 2.2), so the cap is built from
// what 2.1 offers:
// - the server's bufferevent callback (evhttp_set_bevcb) runs inside the
//   accept of every connection and counts it there, before the next accept;
// - right after the accept, before any byte of the connection is read, an
//   event of ours finds the connection object (the argument evhttp gives its
//   bufferevent's callbacks) and sets its close callback, which uncounts it
//   however it ends (time-out, peer close, error, answer);
// - when the count reaches the cap, the server's own listener is disabled
//   (libevent stops its accept loop there) and a second listener on the same
//   socket closes every connection it accepts at once, with one log line a
//   second at most. Below the cap the two swap back.
// Everything runs on the server's loop thread: nothing here locks.
#pragma once

#include <event2/util.h>

#include <chrono>
#include <cstdint>
#include <vector>

struct bufferevent;
struct event;
struct event_base;
struct evconnlistener;
struct evhttp;
struct evhttp_connection;
struct sockaddr;

class HttpConnectionLimit {
public:
    // Installs the counting on http (before any connection); logName starts
    // the refusal lines. cap is at least 1.
    HttpConnectionLimit(struct event_base* base, struct evhttp* http, int cap, const char* logName);
    // After Release and the server's evhttp_free, before the base is freed.
    ~HttpConnectionLimit();
    HttpConnectionLimit(const HttpConnectionLimit&) = delete;
    HttpConnectionLimit& operator=(const HttpConnectionLimit&) = delete;

    // Binds and listens on ip:port for the server, with the cap in force:
    // 0, or -1 when the address cannot be bound.
    int Bind(const char* ip, uint16_t port);

    // Connections open now (accepted and not yet closed).
    int Open() const { return open_; }

    // Before the server is freed: drops the refusing listener and forgets
    // the server's own, which goes with the server (its connections still
    // uncount themselves as they are freed).
    void Release();

private:
    static struct bufferevent* NewConnection(struct event_base* base, void* arg);
    static void AdoptPending(evutil_socket_t, short, void* arg);
    static void Closed(struct evhttp_connection* connection, void* arg);
    static void Refuse(struct evconnlistener* listener, evutil_socket_t fd, struct sockaddr* peer, int peerLength,
                       void* arg);
    void Uncount();
    void StartRefusing();
    void StopRefusing();

    struct event_base* base_;
    struct evhttp* http_;
    const int cap_;
    const char* logName_;
    struct event* adopt_;                       // runs AdoptPending
    std::vector<struct bufferevent*> pending_;  // accepted, close callback not set yet (one reference each)
    int open_ = 0;
    bool refusing_ = false;
    struct evconnlistener* listener_ = nullptr;  // the server's, owned by it
    struct evconnlistener* refuser_ = nullptr;   // ours, on the same socket; freed by Release
    uint64_t refusedSinceLine_ = 0;
    std::chrono::steady_clock::time_point lastLine_{};
    bool logged_ = false;
};
