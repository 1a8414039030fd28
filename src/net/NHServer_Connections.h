// The callbacks of the connections a server accepts, and the close that waits
// until a connection's output has reached the peer. Loop thread only.
#pragma once

#include "net/NHServer_State.h"

#include <cstdint>

struct bufferevent;
struct evconnlistener;
struct sockaddr;

// How long a close-after-flush waits for the peer to take more bytes.
static const int NHSERVER_FLUSH_TIMEOUT_S = 30;
// The shortest time between two lines about connections refused at the cap.
static const int NHSERVER_REFUSAL_LOG_MS = 1000;

// Gives the accepted socket a buffered connection and a channelID.
void AcceptCallback(struct evconnlistener* listener, int fd, struct sockaddr* address, int length, void* server);
void ReadDataCallback(struct bufferevent* bev, void* server);
// End, error or time-out of a connection: closed by event (reason 2).
void EventCallback(struct bufferevent* bev, short events, void* server);

// The close-after-flush command itself (NHServer_PostCloseAfterFlush).
void NHServer_CloseAfterFlush(NHServer* server, uint64_t channelID);
// Write callback of a connection waiting for its close-after-flush.
void FlushedCloseCallback(struct bufferevent* bev, void* server);
