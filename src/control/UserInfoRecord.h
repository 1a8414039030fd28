// A user of the control centre's user messages as a user_tb row.
#pragma once

#include "store/UserRecord.h"

namespace UserOpMsg {
class UserInfo;
}

// Fills a zeroed *out with id, type, role, the nine texts (each cut to 199
// bytes at a UTF-8 character boundary, so the stored name lists back as
// valid text), activation and activation period. enabled and
// firstonlinetime stay 0 and empty.
void UserInfo_ToRecord(const UserOpMsg::UserInfo& info, UserRecord* out);
// True when none of the nine texts holds a NUL byte: the row then keeps
// each text whole (up to its cut), not only what comes before a NUL.
bool UserInfo_TextsWhole(const UserOpMsg::UserInfo& info);
