#include "caster/centre/CtrlNotify.h"

#include "caster/centre/ServiceHooks.h"
#include "caster/centre/Vorlane.h"
#include "runtime/Log.h"

namespace Ntrip {

void NotifyCtrlCenter(int type, const CtrlNotice& notice)
{
    Vorlane* center = GetCenter();
    if (center && center->hooks->ctrlNotify) {
        center->hooks->ctrlNotify(type, notice);
        return;
    }
    Log_Debug("%s:%d %s %s: no control-centre connection", "Ntrip::NotifyCtrlCenter", type,
              notice.roverName ? notice.roverName : "", notice.accessPoint ? notice.accessPoint : "");
}

}  // namespace Ntrip
