// The HTTP inspector: operators query the user store, the online stations and
// rovers, and add users, with JSON over HTTP on the `http_server` address. It
// runs libevent's HTTP server on an event loop and thread of its own; its
// handlers copy what they need out of the registries under their locks and
// build and send every answer with no lock held, so a query never stalls the
// caster loop. It has no authentication; only the orderly exit stops it
// (StopHttpInspector). What a client can make
// it hold is bounded: headers, body, time without progress and the number of
// connections (HttpConnectionLimit), so it never takes the descriptors the
// caster port needs.
#pragma once

// Connections the inspector keeps open at once; more are closed at accept.
enum { HTTP_INSPECTOR_MAX_CONNECTIONS = 128 };

// Starts HttpInspectorLoop on a thread of its own. Call once, after the
// centre exists.
void StartHttpInspector();

// The orderly exit: breaks the inspector's loop (or keeps it from starting)
// and waits at most timeoutMs for its thread, which frees the server, its
// connections and its base. True when the thread has ended (or never
// started); false when it is still running.
bool StopHttpInspector(unsigned timeoutMs);

// The inspector thread: makes the loop and the server with the six routes,
// waits 2 s, binds the `http_server` address and serves until a stop.
// Fatal when the loop or the server cannot be made; returns 1 when the
// centre has no HTTP configuration.
unsigned HttpInspectorLoop(void* arg);

// True for an address text the inspector can bind that only this host
// reaches: 127.0.0.0/8, ::1, ::ffff:127.x.x.x, "localhost".
bool HttpInspector_IsLoopback(const char* ip);
