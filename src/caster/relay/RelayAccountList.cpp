// The relay-account pool; its list file is read by RelayAccountFile.
#include "caster/relay/RelayAccountList.h"

#include "decoding/NtripDecoding/Base64.h"
#include "platform/LocalTime.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Fits(const char* text, size_t size) { return text && strlen(text) < size; }

}  // namespace

std::string RelayAccount_UserName(const char* credentials)
{
    if (!credentials) return std::string();
    const char* colon = strchr(credentials, ':');
    return colon ? std::string(credentials, static_cast<size_t>(colon - credentials)) : std::string(credentials);
}

uint32_t RelayMountKeyTraits::Hash(const Key& name, uint32_t buckets)
{
    // Multiplicative string hash, 32-bit arithmetic, signed characters.
    size_t length = strlen(name);
    uint32_t h = static_cast<uint32_t>(static_cast<int32_t>(name[0])) << 7;
    for (size_t i = 0; i < length; ++i) {
        h = (h * 1000003u) ^ static_cast<uint32_t>(static_cast<int32_t>(name[i]));
    }
    h ^= static_cast<uint32_t>(length);
    return h % buckets;
}

bool RelayMountKeyTraits::Equal(const Key& a, const Key& b) { return strcmp(a, b) == 0; }

RelayAccountList* RelayAccountList::Create()
{
    RelayAccountList* pool = new RelayAccountList;
    pool->mounts_.Grow(0);  // the first prime size, as every registry starts
    return pool;
}

RelayAccountList::~RelayAccountList()
{
    mounts_.Clear([](RelayMount*) {});  // the stores own the records
}

int RelayAccountList::Load(const char* path)
{
    ScopedLock guard(lock_);
    if (!RelayAccountFile_Read(path, "RelayAccountList::Load", [this](const RelayFileLine& line) { LoadLine(line); })) {
        return 0;
    }
    Log_Info("%s:%d relay mount(s), %d account(s)", "RelayAccountList::Load",
             static_cast<int>(relayMountNames_.size()), totalAccounts_);
    return 0;
}

void RelayAccountList::LoadLine(const RelayFileLine& line)
{
    static const char* kWhere = "RelayAccountList::Load";
    const int number = line.number;
    const std::string& credentials = line.credentials;
    if (line.system) {
        const RelayFileMount& g = line.mounts.back();  // a later "-m" replaces an earlier one
        int result = AddSystemMount(g.localName.c_str(), g.host.c_str(), g.port, g.upstreamMount.c_str(),
                                    credentials.c_str());
        if (result == 1) Log_Warn("%s:line %d: mount %s exists already, skipped", kWhere, number, g.localName.c_str());
        if (result == -1) Log_Warn("%s:line %d: system mount %s skipped", kWhere, number, g.localName.c_str());
        return;
    }

    if (!line.haveCredentials || credentials.empty()) {
        Log_Warn("%s:line %d skipped: an account line without \"-i\" credentials", kWhere, number);
        return;
    }
    std::vector<const RelayFileMount*> usable;
    for (const RelayFileMount& g : line.mounts) {
        RelayMount* existing = mounts_.Find(g.localName.c_str());
        if (existing && existing->systemAccount) {
            Log_Warn("%s:line %d: %s is a system mount, the account is not attached to it", kWhere, number,
                     g.localName.c_str());
            continue;
        }
        if (existing && (g.host != existing->host || g.port != existing->port ||
                         g.upstreamMount != existing->upstreamMount)) {
            Log_Warn("%s:line %d: %s keeps its first upstream %s:%d/%s", kWhere, number, existing->localName,
                     existing->host, existing->port, existing->upstreamMount);
        }
        usable.push_back(&g);
    }
    if (usable.empty()) return;
    RelayAccount* account = AddAccount(credentials.c_str());
    if (!account) return;
    for (const RelayFileMount* g : usable) {
        AddRelayMount(g->localName.c_str(), g->host.c_str(), g->port, g->upstreamMount.c_str());
        AttachAccount(g->localName.c_str(), account);
    }
}


RelayMount* RelayAccountList::NewMount(const char* localName, const char* host, int port, const char* upstreamMount)
{
    std::unique_ptr<RelayMount> mount(new RelayMount());
    FixedText_Copy(mount->localName, sizeof(mount->localName), localName);
    FixedText_Copy(mount->host, sizeof(mount->host), host);
    mount->port = port;
    FixedText_Copy(mount->upstreamMount, sizeof(mount->upstreamMount), upstreamMount);
    mount->systemAccount = nullptr;
    mount->next = nullptr;
    if (!mounts_.Insert(mount.get())) Log_Fatal("%s:malloc error", "RelayAccountList::NewMount");
    mountStore_.push_back(std::move(mount));
    return mountStore_.back().get();
}

int RelayAccountList::AddRelayMount(const char* localName, const char* host, int port, const char* upstreamMount)
{
    if (!localName || !*localName || !Fits(localName, RELAY_NAME_SIZE) || !host || !*host ||
        !Fits(host, RELAY_NAME_SIZE) || !Fits(upstreamMount, RELAY_NAME_SIZE)) {
        return -1;
    }
    ScopedLock guard(lock_);
    if (mounts_.Find(localName)) return 1;
    NewMount(localName, host, port, upstreamMount);
    relayMountNames_.insert(localName);
    return 0;
}

RelayAccount* RelayAccountList::AddAccount(const char* credentials)
{
    if (!credentials || !*credentials || !Fits(credentials, RELAY_CREDENTIALS_SIZE)) return nullptr;
    std::unique_ptr<RelayAccount> account(new RelayAccount());
    FixedText_Copy(account->credentials, sizeof(account->credentials), credentials);
    Base64Encode(account->credentialsBase64, sizeof(account->credentialsBase64), credentials);
    account->inUse = 0;
    account->system = 0;
    ScopedLock guard(lock_);
    accountStore_.push_back(std::move(account));
    ++totalAccounts_;
    ++idleAccounts_;
    return accountStore_.back().get();
}

int RelayAccountList::AttachAccount(const char* localName, RelayAccount* account)
{
    if (!localName) return 1;
    ScopedLock guard(lock_);
    if (!account || account->system) return -1;
    bool ours = false;
    for (const auto& owned : accountStore_) ours = ours || owned.get() == account;
    if (!ours) return -1;
    RelayMount* mount = mounts_.Find(localName);
    if (!mount || mount->systemAccount) return 1;
    mount->accounts.push_back(account);
    return 0;
}

int RelayAccountList::AddSystemMount(const char* localName, const char* host, int port, const char* upstreamMount,
                                     const char* credentials)
{
    if (!localName || !*localName || !Fits(localName, RELAY_NAME_SIZE) || !host || !*host ||
        !Fits(host, RELAY_NAME_SIZE) || !Fits(upstreamMount, RELAY_NAME_SIZE) ||
        !Fits(credentials, RELAY_CREDENTIALS_SIZE)) {
        return -1;
    }
    ScopedLock guard(lock_);
    if (mounts_.Find(localName)) return 1;
    std::unique_ptr<RelayAccount> account(new RelayAccount());
    FixedText_Copy(account->credentials, sizeof(account->credentials), credentials);
    Base64Encode(account->credentialsBase64, sizeof(account->credentialsBase64), credentials);
    account->inUse = 0;
    account->system = 1;
    RelayMount* mount = NewMount(localName, host, port, upstreamMount);
    mount->systemAccount = account.get();
    accountStore_.push_back(std::move(account));
    return 0;
}

RelayMount* RelayAccountList::FindMount(const char* localName)
{
    if (!localName) return nullptr;
    ScopedLock guard(lock_);
    return mounts_.Find(localName);
}

int RelayAccountList::IsNotRelayMount(const char* name)
{
    if (!name) return 1;
    ScopedLock guard(lock_);
    return relayMountNames_.count(name) ? 0 : 1;
}

RelayAccount* RelayAccountList::TakeIdleAccount(const char* localName)
{
    if (!localName) return nullptr;
    ScopedLock guard(lock_);
    RelayMount* mount = mounts_.Find(localName);
    if (!mount || mount->accounts.empty()) return nullptr;
    for (size_t tried = 0; tried < mount->accounts.size(); ++tried) {
        RelayAccount* account = mount->accounts.front();
        mount->accounts.pop_front();
        mount->accounts.push_back(account);
        if (!account->inUse) {
            account->inUse = 1;
            --idleAccounts_;
            return account;
        }
    }
    return nullptr;
}

RelayMount* RelayAccountList::IdleSystemMountAfter(const RelayMount* after)
{
    bool started = after == nullptr;
    RelayMount* found = nullptr;
    mounts_.ForEach([&](RelayMount* mount) {
        if (found) return;
        if (!started) {
            started = mount == after;
            return;
        }
        if (mount->systemAccount && !mount->systemAccount->inUse) found = mount;
    });
    if (found) found->systemAccount->inUse = 1;
    return found;
}

RelayMount* RelayAccountList::TakeSystemMount()
{
    ScopedLock guard(lock_);
    return IdleSystemMountAfter(nullptr);
}

RelayMount* RelayAccountList::NextSystemMount(const RelayMount* mount)
{
    if (!mount) return nullptr;
    ScopedLock guard(lock_);
    return IdleSystemMountAfter(mount);
}

int RelayAccountList::ReleaseAccount(RelayAccount* account)
{
    if (!account) return -1;
    ScopedLock guard(lock_);
    bool ours = false;
    for (const auto& owned : accountStore_) ours = ours || owned.get() == account;
    if (!ours) return -1;
    if (!account->inUse) {
        Log_Warn("%s:account %s is idle already, nothing released", "RelayAccountList::ReleaseAccount",
                 RelayAccount_UserName(account->credentials).c_str());
        return 1;
    }
    account->inUse = 0;
    if (!account->system) ++idleAccounts_;
    return 0;
}

bool RelayAccountList::IsInUse(const RelayAccount* account)
{
    if (!account) return false;
    ScopedLock guard(lock_);
    return account->inUse != 0;
}

int RelayAccountList::DayKeyNow()
{
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    // The whole date, not the day of the month alone: a pool idle for a month
    // must not carry the old figures into the same day of the next.
    return now.year * 10000 + now.month * 100 + now.day;
}

void RelayAccountList::RestartUsedTodayIfNewDay(int today)
{
    if (today == usedSetDay_) return;
    usedSetDay_ = today;
    usedToday_.clear();
    for (const auto& user : inUse_) usedToday_.insert(user.first);
}

int RelayAccountList::MarkUsed(const char* name)
{
    if (!name) return -1;
    ScopedLock guard(lock_);
    RestartUsedTodayIfNewDay(DayKeyNow());
    usedToday_.insert(name);
    ++inUse_[name];
    return 0;
}

int RelayAccountList::UnmarkUsed(const char* name)
{
    if (!name) return -1;
    ScopedLock guard(lock_);
    auto it = inUse_.find(name);
    if (it != inUse_.end() && --it->second <= 0) inUse_.erase(it);
    return 0;
}

int RelayAccountList::DayMaxInUse()
{
    ScopedLock guard(lock_);
    int today = DayKeyNow();
    if (today != peakDay_) {
        peakDay_ = today;
        dayPeakInUse_ = 0;
    }
    int inUse = totalAccounts_ - idleAccounts_;
    if (inUse > dayPeakInUse_) dayPeakInUse_ = inUse;
    return dayPeakInUse_;
}

int RelayAccountList::DayUsedCount()
{
    ScopedLock guard(lock_);
    RestartUsedTodayIfNewDay(DayKeyNow());
    return static_cast<int>(usedToday_.size());
}

int RelayAccountList::TotalAccounts()
{
    ScopedLock guard(lock_);
    return totalAccounts_;
}

int RelayAccountList::IdleAccounts()
{
    ScopedLock guard(lock_);
    return idleAccounts_;
}

int RelayAccountList::ListMountNames(char (*names)[RELAY_NAME_SIZE], int capacity, int* count)
{
    ScopedLock guard(lock_);
    int copied = 0;
    for (const std::string& name : relayMountNames_) {
        if (!names || copied >= capacity) break;
        FixedText_Copy(names[copied], RELAY_NAME_SIZE, name.c_str());
        ++copied;
    }
    if (count) *count = copied;
    return relayMountNames_.empty() ? 1 : 0;
}

int RelayAccountList::MountNameCount()
{
    ScopedLock guard(lock_);
    return static_cast<int>(relayMountNames_.size());
}

int RelayAccountList::FormatStateLine(char* out, size_t size)
{
    if (!out) return -1;
    ScopedLock guard(lock_);  // one consistent set of figures
    int used = DayUsedCount();
    int peak = DayMaxInUse();
    int written = snprintf(out, size, RELAY_STATE_FORMAT, used, peak, totalAccounts_, idleAccounts_);
    if (written < 0 || static_cast<size_t>(written) >= size) return -1;
    return written;
}

int RelayAccountList::ReportState(char* out, size_t size)
{
    int length = FormatStateLine(out, size);
    if (length <= 0) return length;
    Log_Info("%.*s", length - 1, out);
    return length;
}

int RelayAccountList::Base64Encode(char* out, size_t size, const char* input)
{
    return NtripDecoding::CBase64::Encode(out, size, input);
}
