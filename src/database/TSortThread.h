// The four work shares that sort or merge an index; share n takes the partitions p with
// p mod 4 = n, in ascending p, so the shares never touch the same partition.
// Thread: Execute runs on one thread (a worker or the caller); WaitFor on the caller's thread.
// The done flag and FError are the only hand-over between the two.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::database {

class TMediumDB;
enum class TShareMode;

/// A share of index work with its done event and captured failure.
class TIndexShare {
public:
    TIndexShare(std::int32_t index, std::int32_t max) : FIndex(index), FMax(max) {}
    virtual ~TIndexShare() = default;
    TIndexShare(const TIndexShare&) = delete;
    TIndexShare& operator=(const TIndexShare&) = delete;

    /// Runs the share over its partitions. An exception stops it (its remaining partitions stay
    /// as they are) and is kept in FError; in every case the done event is set. Never throws.
    void Execute() noexcept;
    /// Waits without limit for the done event; if a failure was kept, hands it over and
    /// rethrows it.
    void WaitFor();

protected:
    /// The work on partition p.
    virtual void Process(std::int32_t p) = 0;

    std::int32_t FIndex;
    std::int32_t FMax;

private:
    std::atomic<bool> FDoneEvent{false};
    std::exception_ptr FError;
};

/// Sorts partitions of FCoreDB.
class TSortThread final : public TIndexShare {
public:
    TSortThread(TMediumDB& coreDB, std::int32_t index, std::int32_t max)
        : TIndexShare(index, max), FCoreDB(coreDB) {}

protected:
    void Process(std::int32_t p) override;

private:
    TMediumDB& FCoreDB;
};

/// Sorts (when needed) and merges partitions of the source FCoreDB into the target FDB.
class TSortAndMergeThread final : public TIndexShare {
public:
    TSortAndMergeThread(TMediumDB& coreDB, TMediumDB& db, std::int32_t index, std::int32_t max)
        : TIndexShare(index, max), FCoreDB(coreDB), FDB(db) {}

protected:
    void Process(std::int32_t p) override;

private:
    TMediumDB& FCoreDB;
    TMediumDB& FDB;
};

/// Test hook: while an instance lives, every share calls fault(p) before it works on partition
/// p; what fault throws stops that share as a real failure would. Not nestable; tests only.
class TShareFaultInjection {
public:
    explicit TShareFaultInjection(std::function<void(std::int32_t)> fault);
    ~TShareFaultInjection();
    TShareFaultInjection(const TShareFaultInjection&) = delete;
    TShareFaultInjection& operator=(const TShareFaultInjection&) = delete;

private:
    std::function<void(std::int32_t)> FFault;
};

/// Number of shares an index job is divided into.
constexpr std::int32_t ShareCount = 4;

/// Runs the shares (on worker threads or one after another), waits for them in order 0..n-1
/// and returns one line per failed share: the failure's message ("Out of memory" for a failed
/// allocation). Never rethrows what the shares raised.
std::vector<std::string> RunShares(std::vector<std::unique_ptr<TIndexShare>>& shares,
                                   TShareMode mode);

/// heading followed by every line, each line followed by CR LF.
std::string ComposeShareErrors(const std::string& heading, const std::vector<std::string>& lines);

}  // namespace orvane::database
