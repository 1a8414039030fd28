// What the inspector's handlers share: the reply envelope, the reading of a
// request body, and the six route handlers (evhttp callbacks, run on the
// inspector thread one request at a time).
#pragma once

#include <json/json.h>

struct evhttp_request;

// Answers with the envelope {"data","message","status"} (compact, keys in
// order, one newline after it) as UTF-8 JSON: HTTP 200 "OK" for a status of 0
// or more, 400 "Bad Request" below. caller names the handler in the fatal
// line when no output buffer can be made.
void HttpReplyJson(struct evhttp_request* request, int status, const char* message, const Json::Value& data,
                   const char* caller = "HttpReplyJson");

// The request's body parsed into *root; false after answering a malformed
// request (status -2) when it is empty, not JSON or not a non-empty object.
// caller names the handler in the log line.
bool HttpInspector_ReadRequest(struct evhttp_request* request, Json::Value* root, const char* caller);

// Logs a request that is answered with a failure: the handler, the peer and
// why (reason; never a text of the body, which may hold a password).
void HttpInspector_LogRefused(struct evhttp_request* request, const char* caller, const char* reason);

// Answers a malformed request: -2 with its text and empty data, and logs
// the peer and why (reason; never a text of the body).
void HttpInspector_ReplyMalformed(struct evhttp_request* request, const char* caller, const char* reason);

void UserGetCb(struct evhttp_request* request, void* arg);
void UserAddCb(struct evhttp_request* request, void* arg);
void StationStatusCb(struct evhttp_request* request, void* arg);
void RoverStatusCb(struct evhttp_request* request, void* arg);
void StationInfoCb(struct evhttp_request* request, void* arg);
void RoverInfoCb(struct evhttp_request* request, void* arg);
