#include "decoding/NtripDecoding/NtripLog.h"

#include <cstring>
#include <new>

namespace NtripDecoding {

NtripServerLoginRequest::NtripServerLoginRequest()
{
    memset(mountPoint, 0, sizeof(mountPoint));
    memset(password, 0, sizeof(password));
}

Tarnek::LogRoot* NtripServerLoginRequest::Clone() const
{
    return new (std::nothrow) NtripServerLoginRequest(*this);
}

NtripClientLoginRequest::NtripClientLoginRequest()
{
    memset(mountPoint, 0, sizeof(mountPoint));
    memset(user, 0, sizeof(user));
    memset(password, 0, sizeof(password));
    memset(userAgent, 0, sizeof(userAgent));
    memset(&binaryLogin, 0, sizeof(binaryLogin));
}

Tarnek::LogRoot* NtripClientLoginRequest::Clone() const
{
    return new (std::nothrow) NtripClientLoginRequest(*this);
}

NtripGetSourceListRequest::NtripGetSourceListRequest()
{
    memset(gga, 0, sizeof(gga));
}

Tarnek::LogRoot* NtripGetSourceListRequest::Clone() const
{
    return new (std::nothrow) NtripGetSourceListRequest(*this);
}

Tarnek::LogRoot* NtripUnknowLoginRequest::Clone() const
{
    return new (std::nothrow) NtripUnknowLoginRequest(*this);
}

void CopyField(char* field, int width, const char* text, long length)
{
    memset(field, 0, static_cast<size_t>(width) + 1);
    if (!text || length <= 0) return;
    long n = 0;
    while (n < length && n < width && text[n] != '\0') ++n;
    memcpy(field, text, static_cast<size_t>(n));
}

}  // namespace NtripDecoding
