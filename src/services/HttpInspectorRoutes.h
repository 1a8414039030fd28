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
bool HttpInspector_ReadRequest(struct evhttp_request* request, Json::Value* root);

// Answers a malformed request: -2 with its text and empty data.
void HttpInspector_ReplyMalformed(struct evhttp_request* request);

void UserGetCb(struct evhttp_request* request, void* arg);
void UserAddCb(struct evhttp_request* request, void* arg);
void StationStatusCb(struct evhttp_request* request, void* arg);
void RoverStatusCb(struct evhttp_request* request, void* arg);
void StationInfoCb(struct evhttp_request* request, void* arg);
void RoverInfoCb(struct evhttp_request* request, void* arg);
