// A small HTTP client that POSTs JSON bodies to one url over libcurl's easy
// interface, with one handle kept for the life of the client.
//
// Configure only records the options and marks them for setup; the next Post
// applies them to the handle first. So the url can change from another thread
// while a post is in flight without waiting for it: the options have a lock
// of their own, and the request holds the handle's lock for its whole run.
// Lock order: the handle's lock, then the options' lock.
#pragma once

#include "runtime/Lock.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The one request header of every post.
#define HTTP_POST_CONTENT_TYPE "Content-Type:application/json;charset=UTF-8"

// Response bytes kept for a caller's callback; the default callback keeps at
// most this many and drops the rest (nothing in the system reads them).
enum { HTTP_POST_RESPONSE_MAX = 65536 };

class HttpPostClient {
public:
    // libcurl's write function; response is the client's response text
    // (a std::string). It must return size * count to keep the transfer going.
    typedef size_t (*WriteCallback)(char* data, size_t size, size_t count, void* response);

    HttpPostClient();
    ~HttpPostClient();
    HttpPostClient(const HttpPostClient&) = delete;
    HttpPostClient& operator=(const HttpPostClient&) = delete;

    // Stores the url and both time-outs (seconds), and the callback when one
    // is given; they are applied before the next request.
    void Configure(const char* url, int32_t connectTimeout, int32_t totalTimeout, WriteCallback callback = nullptr);

    // POSTs body (a NUL-terminated text) to the configured url and returns
    // libcurl's result; blocks for the whole request, bounded by the time-outs.
    // Only http and https urls are followed, redirects included; any other
    // scheme gives CURLE_UNSUPPORTED_PROTOCOL and nothing is sent or read.
    CURLcode Post(const char* body);

    std::string GetUrl();

    // The default write function: keeps up to HTTP_POST_RESPONSE_MAX bytes and
    // accepts every byte, so a long answer never fails the post.
    static size_t KeepResponse(char* data, size_t size, size_t count, void* response);

private:
    // Applies the options to the handle; handle lock and options lock held.
    // False when the protocols cannot be restricted (nothing may go out).
    bool Setup();

    CURL* handle_;
    struct curl_slist* headers_;
    WriteCallback write_;
    int32_t totalTimeout_;    // CURLOPT_TIMEOUT, seconds
    int32_t connectTimeout_;  // CURLOPT_CONNECTTIMEOUT, seconds
    std::string url_;
    std::string response_;
    uint8_t needsSetup_;  // 1 after Configure, 0 once applied
    Lock handleLock_;     // the handle, its header list and the response
    Lock optionsLock_;    // write_, the time-outs, url_, needsSetup_
};
