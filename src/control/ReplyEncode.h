// The fixed replies: each builds its body with the fields named, the others
// at their defaults, and encodes it with EncodeFrame under the request's id.
// Results as EncodeFrame's; the caller sends.
#pragma once

#include <cstddef>
#include <cstdint>

// 1001, the reply to a login or logout: LoginMsg::LoginResponse.
int EncodeLoginResponse(int32_t id, int32_t ackStatus, int userRole, const char* loginName, unsigned char* buffer,
                        size_t bufferSize, size_t* outLength);

// 1011 to 1014, the replies to adding, listing, modifying and deleting
// users: UserOpMsg::UserOpResponse with ack_status only.
int EncodeUserOpResponse1011(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength);
int EncodeUserOpResponse1012(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength);
int EncodeUserOpResponse1013(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength);
int EncodeUserOpResponse1014(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength);

// 1015, a page of users: UserOpMsg::PageOfUserInfoResponse, total_count 0.
int EncodePageOfUserInfoResponse(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                                 size_t* outLength);

// 1017, the reply to a configuration change: ServiceOpMsg::ConfigServiceResponse.
int EncodeConfigServiceResponse(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                                size_t* outLength);
