#include "caster/CtrlNotify.h"

#include "runtime/Log.h"

namespace Ntrip {

void NotifyCtrlCenter(int type, const CtrlNotice& notice)
{
    // The control-centre server builds the message and posts it to each of
    // its connections; none exists yet.
    Log_Debug("%s:%d %s %s: no control-centre connection", "Ntrip::NotifyCtrlCenter", type,
              notice.roverName ? notice.roverName : "", notice.accessPoint ? notice.accessPoint : "");
}

}  // namespace Ntrip
