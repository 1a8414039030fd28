// What tests see of a server beyond NHServer.h: its tables and its queue.
// For tests only; the code of the system uses NHServer.h.
#pragma once

#include "net/CommandQueue.h"
#include "net/NHServer.h"
#include "net/PublisherTable.h"
#include "net/TcpConnection.h"

#include <cstdint>

// The server's connections and publishers (their own threading rules hold).
TcpConnectionTable* NHServer_ConnectionTable(NHServer* server);
PublisherTable* NHServer_PublisherTable(NHServer* server);

// How many commands wait for the next drain. Any thread.
uint32_t NHServer_QueuedCommands(NHServer* server);
// Hands every queued command to visit in order without running it, then
// frees it: for a server whose loop does not run (tests of what was posted).
void NHServer_TakeQueuedCommands(NHServer* server, CommandQueueRunFn visit, void* context);

// Runs one command on the loop thread; an unknown kind is fatal.
void DecodingEvent_Process(DecodingEvent* event, NHServer* server);

// The library's log callback the server installs.
void LibeventLogCb(int severity, const char* message);
