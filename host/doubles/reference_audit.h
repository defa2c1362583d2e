#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace stand_in {

class audited_object;

// Keeps the host's own reference on every counted object it made, so that after a test each count must be back at
// exactly 1: more means the component still holds a reference, less that it released one twice.
class reference_audit {
public:
    // Room for the objects of a long test, so that enrolling one does not show up in a memory count.
    reference_audit() { objects_.reserve(1024); }
    reference_audit(const reference_audit&) = delete;
    reference_audit& operator=(const reference_audit&) = delete;

    // One line per object whose count is not back at 1; empty when the audit is clean.
    std::string findings() const;
    bool clean() const { return findings().empty(); }

private:
    friend class audited_object;
    void enroll(const audited_object* object);
    void withdraw(const audited_object* object);

    mutable std::mutex mutex_;
    std::vector<const audited_object*> objects_;
};

// The count of one host object, starting at the host's own reference.
class audited_object {
public:
    audited_object(reference_audit& audit, std::string name);
    audited_object(const audited_object&) = delete;
    audited_object& operator=(const audited_object&) = delete;
    ~audited_object();

    const std::string& audit_name() const noexcept { return name_; }
    // The audit this object reports to, for the objects it makes in turn.
    reference_audit& audit_of_this() const noexcept { return audit_; }
    std::int32_t references() const noexcept { return references_.load(); }
    bool released_below_host_reference() const noexcept { return over_released_.load(); }

protected:
    std::int32_t add_reference() noexcept { return ++references_; }
    std::int32_t drop_reference() noexcept
    {
        const std::int32_t count = --references_;
        if (count < 1)
            over_released_ = true;
        return count;
    }

private:
    reference_audit& audit_;
    std::string name_;
    std::atomic<std::int32_t> references_{1};
    std::atomic<bool> over_released_{false};
};

} // namespace stand_in
