// The relay-account pool: the relay mounts of "RelayAccount.list", the
// upstream accounts that may serve each, and the counters of account use per
// day.
//
// Accounts cost money, so the pool is the one place that decides whether an
// account is in use. Every operation takes the pool's own lock, which is
// taken after any registry lock and never held while calling out; an account
// is handed out only while it is idle, and giving one back that is already
// idle changes nothing.
//
// Mounts and accounts live as long as the pool. Their names, host, port and
// credentials never change after loading, so a caller may read them from the
// pointers it got without the lock; their in-use flags are the pool's.
#pragma once

#include "caster/relay/RelayAccountFile.h"
#include "runtime/HashTable.h"
#include "runtime/Lock.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The relay state line, with the users today, the day's peak of accounts in
// use, the shared accounts and the idle ones.
#define RELAY_STATE_FORMAT \
    "Realy_account state:DAY_MAX_USER:%d   RELAY_ACCOUNT_DAY_MAX_USE:%d    RELAY_ACCOUNT_SUM:%d   LEFT:%d\n"

struct RelayAccount {
    char credentials[RELAY_CREDENTIALS_SIZE];  // user name and password joined by a colon
    char credentialsBase64[RELAY_CREDENTIALS_BASE64_SIZE];
    int32_t inUse;   // 1 while a relay connection uses it; the pool's lock guards it
    int32_t system;  // 1: a system mount's own account, outside the pool's counts
};

// The user name of credentials ("user:password"): the text before the first
// colon. Log lines name an account by it alone; the password is never logged.
std::string RelayAccount_UserName(const char* credentials);

struct RelayMount {
    char localName[RELAY_NAME_SIZE];  // the mount rovers ask for (the key)
    char host[RELAY_NAME_SIZE];       // the other caster
    int32_t port;
    char upstreamMount[RELAY_NAME_SIZE];
    std::deque<RelayAccount*> accounts;  // shared accounts in file order, rotated on use
    RelayAccount* systemAccount;         // a system mount's own account, else null
    RelayMount* next;                    // hash chain
};

struct RelayMountKeyTraits {
    typedef const char* Key;
    static Key KeyOf(const RelayMount* m) { return m->localName; }
    static RelayMount** LinkOf(RelayMount* m) { return &m->next; }
    static uint32_t Hash(const Key& name, uint32_t buckets);
    static bool Equal(const Key& a, const Key& b);
};

class RelayAccountList {
public:
    // A new empty pool.
    static RelayAccountList* Create();
    RelayAccountList() = default;
    ~RelayAccountList();
    RelayAccountList(const RelayAccountList&) = delete;
    RelayAccountList& operator=(const RelayAccountList&) = delete;

    // Reads the list file (see RelayAccountFile.cpp for its lines). Lines that
    // cannot be used are logged and skipped. Always 0, also when the file
    // cannot be opened (then nothing is loaded).
    int Load(const char* path);

    // 0 stored; 1 the name exists already (that mount stays unchanged); -1 a
    // name empty or too long, or no host.
    int AddRelayMount(const char* localName, const char* host, int port, const char* upstreamMount);
    // A new shared account (in use 0) counted in the total and idle counts;
    // null for empty or too long credentials.
    RelayAccount* AddAccount(const char* credentials);
    // Appends the account to the mount's list: 0; 1 no such relay mount (or a
    // system mount, which serves its own account only); -1 not one of this
    // pool's shared accounts.
    int AttachAccount(const char* localName, RelayAccount* account);
    // A mount with an account of its own, kept connected by the caster: 0; 1
    // the name exists; -1 a name or the credentials empty or too long, or no
    // host. Not a relay-mount name and not in the account counts.
    int AddSystemMount(const char* localName, const char* host, int port, const char* upstreamMount,
                       const char* credentials);

    RelayMount* FindMount(const char* localName);
    // 0 when the name is a shared relay mount (rovers on it take relay mode), else 1.
    int IsNotRelayMount(const char* name);

    // An idle account of the relay mount, now in use, or null (no such mount,
    // no accounts, all in use). The accounts are tried from the head of the
    // list, each moved to the tail as it is tried.
    RelayAccount* TakeIdleAccount(const char* localName);
    // The first system mount, in bucket order, whose account is idle, with
    // that account now in use; null when none. NextSystemMount continues the
    // search after the given mount.
    RelayMount* TakeSystemMount();
    RelayMount* NextSystemMount(const RelayMount* mount);
    // Gives an account back: 0 released (a shared account adds 1 to the idle
    // count); 1 it was idle already and nothing changed; -1 null or not one
    // of this pool's accounts.
    int ReleaseAccount(RelayAccount* account);
    bool IsInUse(const RelayAccount* account);

    // The rover users of relays (their per-user keys): MarkUsed when a relay
    // starts for one, UnmarkUsed when it ends. A user may hold several relays
    // at once; each UnmarkUsed ends one of them. 0, or -1 for a null name.
    int MarkUsed(const char* name);
    int UnmarkUsed(const char* name);

    // The most accounts in use at once today (reset at the first call of a day).
    int DayMaxInUse();
    // The rover users that have had a relay today: on a new day the count
    // starts again from the users holding a relay at that moment.
    int DayUsedCount();
    int TotalAccounts();
    int IdleAccounts();

    // Copies up to capacity relay-mount names, sorted, and sets *count to the
    // number copied: 1 when there are none, else 0.
    int ListMountNames(char (*names)[RELAY_NAME_SIZE], int capacity, int* count);
    int MountNameCount();

    // The state line (with its line feed) into out: its length, or -1 when out
    // is null or too small.
    int FormatStateLine(char* out, size_t size);
    // FormatStateLine, then prints the line and logs it at info level (without
    // the line feed); callers hand out on to the mailer.
    int ReportState(char* out, size_t size);

    // The Base64 of credentials: NtripDecoding::CBase64::Encode.
    static int Base64Encode(char* out, size_t size, const char* input);

private:
    RelayMount* NewMount(const char* localName, const char* host, int port, const char* upstreamMount);
    RelayMount* IdleSystemMountAfter(const RelayMount* after);
    int DayKeyNow();
    void RestartUsedTodayIfNewDay(int today);
    void LoadLine(const RelayFileLine& line);

    Lock lock_;
    IntrusiveHashTable<RelayMount, RelayMountKeyTraits> mounts_;
    std::vector<std::unique_ptr<RelayMount>> mountStore_;
    std::vector<std::unique_ptr<RelayAccount>> accountStore_;
    int totalAccounts_ = 0;
    int idleAccounts_ = 0;
    int dayPeakInUse_ = 0;
    int peakDay_ = 0;     // year*10000 + month*100 + day of the last peak reset
    int usedSetDay_ = 0;  // the same for the used-today set
    std::set<std::string> relayMountNames_;
    std::set<std::string> usedToday_;
    std::map<std::string, int> inUse_;  // user -> relays held now
};
