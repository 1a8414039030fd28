#include "control/StationSnapshot.h"

#include "caster/centre/CasterScope.h"
#include "runtime/FixedText.h"
#include "caster/registry/VirtualMount.h"

#include <cstring>
#include <unordered_map>

namespace {

BaseSnapshot BaseOf(ConnInfoTable* conns, const BaseRecord* base)
{
    BaseSnapshot s;
    memset(&s, 0, sizeof s);
    s.base = *base;
    if (const ConnInfo* conn = conns->Find(base->channelID)) {
        s.hasConn = true;
        s.conn = *conn;
    }
    return s;
}

// The base registry by name, first record in bucket order for each name (as
// BaseTable::FindByName finds it), so that every rover's base is found in
// one walk of the bases. Valid while the base lock is held.
class BaseByName {
public:
    explicit BaseByName(BaseTable* bases)
    {
        bases->ForEach([&](BaseRecord* base) { byName_.emplace(base->mountPoint, base); });
    }
    const BaseRecord* Find(const char* name) const
    {
        auto it = byName_.find(name);
        return it == byName_.end() ? nullptr : it->second;
    }

private:
    std::unordered_map<std::string, const BaseRecord*> byName_;
};

RoverSnapshot RoverOf(ConnInfoTable* conns, const BaseByName& bases, const RoverRecord* rover, bool onVirtualMount)
{
    RoverSnapshot s;
    memset(&s, 0, sizeof s);
    s.rover = *rover;
    if (const ConnInfo* conn = conns->Find(rover->channelID)) {
        s.hasConn = true;
        s.conn = *conn;
    }
    FixedText_Copy(s.servingBase, sizeof s.servingBase, onVirtualMount ? rover->boundBaseName : rover->mountPoint);
    const BaseRecord* base = bases.Find(s.servingBase);
    if (base && base->state == BASE_STATE_ONLINE) {
        s.servingOnline = true;
        FixedText_Copy(s.servingFormat, sizeof s.servingFormat, base->format);
        s.servingLatitude = base->latitude;
        s.servingLongitude = base->longitude;
        s.servingHeight = base->height;
    }
    return s;
}

// A request's name as the fixed 100-byte buffers of the handlers hold it.
std::string NameOfRequest(const std::string& name) { return name.substr(0, BASE_MOUNT_SIZE - 1); }

}  // namespace

bool StationPage_Takes(const StationPage& page, int64_t position, bool* done)
{
    *done = false;
    if (position < page.start) return false;
    if (position >= static_cast<int64_t>(page.start) + page.count) {
        *done = true;
        return false;
    }
    return true;
}

void StationSnapshot_OnlineBases(const CasterScope& scope, std::vector<BaseSnapshot>* out)
{
    out->clear();
    ConnInfoTable::Guard connLock;
    BaseTable::Guard baseLock;
    out->reserve(static_cast<size_t>(scope.bases->Count()));
    scope.bases->ForEach([&](BaseRecord* base) {
        if (base->state == BASE_STATE_ONLINE) out->push_back(BaseOf(scope.conns, base));
    });
}

void StationSnapshot_BasePage(const CasterScope& scope, const StationPage& page, const std::string& nameFilter,
                              int* total, std::vector<BaseSnapshot>* out)
{
    out->clear();
    std::string filter = NameOfRequest(nameFilter);
    bool filtered = !filter.empty();
    ConnInfoTable::Guard connLock;
    BaseTable::Guard baseLock;
    *total = filtered ? scope.bases->CountNameContains(filter.c_str()) : scope.bases->CountOnline();
    if (*total > 0) {
        int64_t i = 0;
        for (BaseListItem* item = scope.bases->First(); item; item = scope.bases->Next(item)) {
            const BaseRecord* base = item->record;
            if (base->state != BASE_STATE_ONLINE) continue;
            if (filtered && !strstr(base->mountPoint, filter.c_str())) continue;
            bool done = false;
            if (StationPage_Takes(page, i, &done)) out->push_back(BaseOf(scope.conns, base));
            if (done) break;
            ++i;
        }
    }
}

void StationSnapshot_Rovers(const CasterScope& scope, std::vector<RoverSnapshot>* out)
{
    out->clear();
    RegistriesGuard locks;
    BaseByName bases(scope.bases);
    out->reserve(static_cast<size_t>(scope.rovers->Count()));
    scope.rovers->ForEach([&](RoverRecord* rover) {
        out->push_back(RoverOf(scope.conns, bases, rover, VirtualMount_HasPrefix(rover->mountPoint)));
    });
}

void StationSnapshot_RoverPage(const CasterScope& scope, const StationPage& page, const std::string& baseName,
                               const std::string& roverName, int* total, std::vector<RoverSnapshot>* out)
{
    out->clear();
    std::string mount = NameOfRequest(baseName);
    std::string user = NameOfRequest(roverName);
    bool byMount = !mount.empty();
    bool byUser = !user.empty();
    RegistriesGuard locks;
    if (byMount && byUser) {
        *total = scope.rovers->CountUserOnMount(mount.c_str(), user.c_str());
    } else if (byMount) {
        *total = scope.rovers->CountOnBase(mount.c_str());
    } else if (byUser) {
        *total = scope.rovers->CountByUser(user.c_str());
    } else {
        *total = scope.rovers->Count();
    }
    if (*total > 0) {
        BaseByName bases(scope.bases);
        int64_t i = 0;
        for (RoverListItem* item = scope.rovers->First(); item; item = scope.rovers->Next(item)) {
            const RoverRecord* rover = item->record;
            if (byMount && mount != rover->mountPoint) continue;
            if (byUser && user != rover->userName) continue;
            bool done = false;
            if (StationPage_Takes(page, i, &done)) {
                out->push_back(RoverOf(scope.conns, bases, rover, rover->bindingMode == ROVER_BIND_NEAREST));
            }
            if (done) break;
            ++i;
        }
    }
}
