#include "caster/registry/RegistrySnapshot.h"

#include "caster/registry/RegistryLock.h"
#include "caster/registry/VirtualMount.h"
#include "runtime/FixedText.h"

#include <cstring>
#include <optional>
#include <unordered_map>

namespace {

// The locks of the tables given, taken in the registries' order and left in
// reverse.
class TablesGuard {
public:
    TablesGuard(const ConnInfoTable* conns, const BaseTable* bases, const RoverTable* rovers)
    {
        if (conns) conns_.emplace(REGISTRY_LOCK_CONNECTION);
        if (bases) bases_.emplace(REGISTRY_LOCK_BASE);
        if (rovers) rovers_.emplace(REGISTRY_LOCK_ROVER);
    }
    ~TablesGuard()
    {
        rovers_.reset();
        bases_.reset();
        conns_.reset();
    }
    TablesGuard(const TablesGuard&) = delete;
    TablesGuard& operator=(const TablesGuard&) = delete;

private:
    std::optional<RegistryLockGuard> conns_;
    std::optional<RegistryLockGuard> bases_;
    std::optional<RegistryLockGuard> rovers_;
};

// The connection record of a channel into *conn; false without one (or
// without a connection table). Valid under the connection lock.
bool CopyConn(ConnInfoTable* conns, uint64_t channelID, ConnInfo* conn)
{
    const ConnInfo* found = conns ? conns->Find(channelID) : nullptr;
    if (!found) return false;
    *conn = ConnInfo_Figures(*found);
    return true;
}

BaseSnapshot BaseOf(ConnInfoTable* conns, const BaseRecord* base)
{
    BaseSnapshot s;
    memset(&s, 0, sizeof s);
    s.base = *base;
    s.hasConn = CopyConn(conns, base->channelID, &s.conn);
    return s;
}

// The base registry by name, first record in bucket order for each name (as
// BaseTable::FindByName finds it), so that every rover's base is found in
// one walk of the bases. Empty without a base table; valid while the base
// lock is held.
class BaseByName {
public:
    explicit BaseByName(BaseTable* bases)
    {
        if (bases) bases->ForEach([&](BaseRecord* base) { byName_.emplace(base->mountPoint, base); });
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
    memset(s.rover.password, 0, sizeof s.rover.password);
    s.hasConn = CopyConn(conns, rover->channelID, &s.conn);
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

// A request's name as the fixed 100-byte buffers of the list requests hold it.
std::string NameOfRequest(const std::string& name) { return name.substr(0, BASE_MOUNT_SIZE - 1); }

// The online bases, under the locks the caller holds.
void CopyOnlineBases(const RegistryTables& tables, std::vector<BaseSnapshot>* out)
{
    out->reserve(static_cast<size_t>(tables.bases->Count()));
    tables.bases->ForEach([&](BaseRecord* base) {
        if (base->state == BASE_STATE_ONLINE) out->push_back(BaseOf(tables.conns, base));
    });
}

// Every rover, under the locks the caller holds.
void CopyRovers(const RegistryTables& tables, std::vector<RoverSnapshot>* out)
{
    BaseByName bases(tables.bases);
    out->reserve(static_cast<size_t>(tables.rovers->Count()));
    tables.rovers->ForEach([&](RoverRecord* rover) {
        out->push_back(RoverOf(tables.conns, bases, rover, VirtualMount_HasPrefix(rover->mountPoint)));
    });
}

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

void RegistrySnapshot_OnlineBases(const RegistryTables& tables, std::vector<BaseSnapshot>* out)
{
    out->clear();
    if (!tables.bases) return;
    TablesGuard locks(tables.conns, tables.bases, nullptr);
    CopyOnlineBases(tables, out);
}

void RegistrySnapshot_BasePage(const RegistryTables& tables, const StationPage& page, const std::string& nameFilter,
                               int* total, std::vector<BaseSnapshot>* out)
{
    out->clear();
    *total = 0;
    if (!tables.bases) return;
    std::string filter = NameOfRequest(nameFilter);
    bool filtered = !filter.empty();
    TablesGuard locks(tables.conns, tables.bases, nullptr);
    BaseTable* bases = tables.bases;
    *total = filtered ? bases->CountNameContains(filter.c_str()) : bases->CountOnline();
    if (*total <= 0) return;
    int64_t i = 0;
    for (BaseListItem* item = bases->First(); item; item = bases->Next(item)) {
        const BaseRecord* base = item->record;
        if (base->state != BASE_STATE_ONLINE) continue;
        if (filtered && !strstr(base->mountPoint, filter.c_str())) continue;
        bool done = false;
        if (StationPage_Takes(page, i, &done)) out->push_back(BaseOf(tables.conns, base));
        if (done) break;
        ++i;
    }
}

void RegistrySnapshot_Rovers(const RegistryTables& tables, std::vector<RoverSnapshot>* out)
{
    out->clear();
    if (!tables.rovers) return;
    TablesGuard locks(tables.conns, tables.bases, tables.rovers);
    CopyRovers(tables, out);
}

void RegistrySnapshot_OnlineBasesAndRovers(const RegistryTables& tables, std::vector<BaseSnapshot>* bases,
                                           std::vector<RoverSnapshot>* rovers)
{
    bases->clear();
    rovers->clear();
    TablesGuard locks(tables.conns, tables.bases, tables.rovers);
    if (tables.bases) CopyOnlineBases(tables, bases);
    if (tables.rovers) CopyRovers(tables, rovers);
}

void RegistrySnapshot_RoverPage(const RegistryTables& tables, const StationPage& page, const std::string& baseName,
                                const std::string& roverName, int* total, std::vector<RoverSnapshot>* out)
{
    out->clear();
    *total = 0;
    if (!tables.rovers) return;
    std::string mount = NameOfRequest(baseName);
    std::string user = NameOfRequest(roverName);
    bool byMount = !mount.empty();
    bool byUser = !user.empty();
    TablesGuard locks(tables.conns, tables.bases, tables.rovers);
    RoverTable* rovers = tables.rovers;
    if (byMount && byUser) {
        *total = rovers->CountUserOnMount(mount.c_str(), user.c_str());
    } else if (byMount) {
        *total = rovers->CountOnBase(mount.c_str());
    } else if (byUser) {
        *total = rovers->CountByUser(user.c_str());
    } else {
        *total = rovers->Count();
    }
    if (*total <= 0) return;
    BaseByName bases(tables.bases);
    int64_t i = 0;
    for (RoverListItem* item = rovers->First(); item; item = rovers->Next(item)) {
        const RoverRecord* rover = item->record;
        if (byMount && mount != rover->mountPoint) continue;
        if (byUser && user != rover->userName) continue;
        bool done = false;
        if (StationPage_Takes(page, i, &done)) {
            out->push_back(RoverOf(tables.conns, bases, rover, rover->bindingMode == ROVER_BIND_NEAREST));
        }
        if (done) break;
        ++i;
    }
}
