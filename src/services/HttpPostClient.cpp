#include "services/HttpPostClient.h"

#include "runtime/Log.h"

#include <exception>

namespace {

// The only schemes an alarm may go out by: a url from the control centre
// must not make the worker read local files or speak other protocols.
const char* const ALLOWED_PROTOCOLS = "http,https";

}  // namespace

HttpPostClient::HttpPostClient()
    : handle_(curl_easy_init()),
      headers_(nullptr),
      write_(KeepResponse),
      totalTimeout_(0),
      connectTimeout_(0),
      needsSetup_(1)
{
    if (!handle_) Log_Error("%s:curl_easy_init failed", "HttpPostClient::HttpPostClient");
}

HttpPostClient::~HttpPostClient()
{
    if (headers_) curl_slist_free_all(headers_);
    if (handle_) curl_easy_cleanup(handle_);
}

void HttpPostClient::Configure(const char* url, int32_t connectTimeout, int32_t totalTimeout, WriteCallback callback)
{
    ScopedLock guard(optionsLock_);
    url_ = url ? url : "";
    connectTimeout_ = connectTimeout;
    totalTimeout_ = totalTimeout;
    if (callback) write_ = callback;
    needsSetup_ = 1;
}

bool HttpPostClient::Setup()
{
    if (headers_) curl_slist_free_all(headers_);
    headers_ = curl_slist_append(nullptr, HTTP_POST_CONTENT_TYPE);
    // Before the url: without the restriction in force nothing is sent.
    if (curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, ALLOWED_PROTOCOLS) != CURLE_OK ||
        curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, ALLOWED_PROTOCOLS) != CURLE_OK) {
        Log_Error("%s:cannot restrict the protocols to %s", "HttpPostClient::Setup", ALLOWED_PROTOCOLS);
        return false;
    }
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(handle_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(handle_, CURLOPT_POST, 1L);
    curl_easy_setopt(handle_, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, write_);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &response_);
    // Time-outs without signals: the worker is one thread among many.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeout_));
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(totalTimeout_));
    return true;
}

CURLcode HttpPostClient::Post(const char* body)
{
    ScopedLock guard(handleLock_);
    if (!handle_) return CURLE_FAILED_INIT;
    {
        ScopedLock options(optionsLock_);
        if (needsSetup_) {
            if (!Setup()) return CURLE_UNSUPPORTED_PROTOCOL;
            needsSetup_ = 0;
        }
    }
    response_.clear();
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body ? body : "");
    return curl_easy_perform(handle_);
}

std::string HttpPostClient::GetUrl()
{
    ScopedLock guard(optionsLock_);
    return url_;
}

size_t HttpPostClient::KeepResponse(char* data, size_t size, size_t count, void* response)
{
    size_t bytes = size * count;
    std::string* text = static_cast<std::string*>(response);
    // Called from libcurl's C code, which no exception may cross.
    try {
        if (text && text->size() < HTTP_POST_RESPONSE_MAX) {
            size_t room = HTTP_POST_RESPONSE_MAX - text->size();
            text->append(data, bytes < room ? bytes : room);
        }
    } catch (const std::exception&) {
        // Out of memory: the answer is not read anyway.
    }
    return bytes;
}
