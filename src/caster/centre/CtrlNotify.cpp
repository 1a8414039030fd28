#include "caster/centre/CtrlNotify.h"

#include "caster/centre/ServiceHooks.h"
#include "caster/centre/Vorlane.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

namespace Ntrip {

void NotifyCtrlCenter(int type, const CtrlNotice& notice)
{
    Vorlane* center = GetCenter();
    if (center && center->hooks->ctrlNotify) {
        center->hooks->ctrlNotify(type, notice);
        return;
    }
    Log_Debug("%s:%d %s %s: no control-centre connection", "Ntrip::NotifyCtrlCenter", type,
              LogText_Escape(notice.roverName).c_str(), LogText_Escape(notice.accessPoint).c_str());
}

}  // namespace Ntrip
