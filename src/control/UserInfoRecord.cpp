#include "control/UserInfoRecord.h"

#include "runtime/FixedText.h"
#include "runtime/Utf8Text.h"

#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <cstring>

void UserInfo_ToRecord(const UserOpMsg::UserInfo& info, UserRecord* out)
{
    memset(out, 0, sizeof *out);
    out->id = static_cast<int32_t>(info.id());
    out->type = info.user_type();
    out->role = info.user_role();
    Utf8_CutCopy(out->name, sizeof out->name, info.user_name().c_str());
    Utf8_CutCopy(out->password, sizeof out->password, info.user_password().c_str());
    Utf8_CutCopy(out->contactperson, sizeof out->contactperson, info.contact_person().c_str());
    Utf8_CutCopy(out->contacttele, sizeof out->contacttele, info.contact_phone().c_str());
    Utf8_CutCopy(out->mail, sizeof out->mail, info.mail().c_str());
    Utf8_CutCopy(out->qq, sizeof out->qq, info.qq().c_str());
    Utf8_CutCopy(out->company, sizeof out->company, info.company().c_str());
    Utf8_CutCopy(out->registerTime, sizeof out->registerTime, info.register_time().c_str());
    Utf8_CutCopy(out->expiredatetime, sizeof out->expiredatetime, info.expiredate_time().c_str());
    out->activation = info.activation();
    out->activationperiod = info.activation_period();
}

bool UserInfo_TextsWhole(const UserOpMsg::UserInfo& info)
{
    const std::string* texts[] = {&info.user_name(),    &info.user_password(), &info.contact_person(),
                                  &info.contact_phone(), &info.mail(),          &info.qq(),
                                  &info.company(),       &info.register_time(), &info.expiredate_time()};
    for (const std::string* text : texts) {
        if (!FixedText_IsWhole(*text)) return false;
    }
    return true;
}
