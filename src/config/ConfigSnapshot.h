// A settings record that changes at run time, published as one immutable
// copy. A writer builds the whole new record and swaps it in at once; a
// reader takes the copy that is current when its operation starts and reads
// every field from that copy, so it never sees half of an update. A copy
// lives as long as its last reader holds it.
#pragma once

#include <memory>

template <typename Record>
class ConfigSnapshot {
public:
    explicit ConfigSnapshot(const Record& initial) : current_(std::make_shared<Record>(initial)) {}
    ConfigSnapshot(const ConfigSnapshot&) = delete;
    ConfigSnapshot& operator=(const ConfigSnapshot&) = delete;

    // The copy in force now; never null. Takes no lock of ours and
    // allocates nothing.
    std::shared_ptr<const Record> Current() const { return std::atomic_load(&current_); }

    // Makes a copy of record the one later readers take. Writers that must
    // not overtake one another (a file write before each publish) serialize
    // themselves.
    void Publish(const Record& record)
    {
        std::shared_ptr<const Record> fresh = std::make_shared<Record>(record);
        std::atomic_store(&current_, fresh);
    }

private:
    std::shared_ptr<const Record> current_;
};
