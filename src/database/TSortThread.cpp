// The work shares of index sorting and merging, and the runner that collects their failures.
// Thread: see TSortThread.h.
#include "database/TSortThread.h"

#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "database/TMediumDB.h"

namespace orvane::database {

namespace {

std::atomic<const std::function<void(std::int32_t)>*> GShareFault{nullptr};

std::string MessageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace

void TIndexShare::Execute() noexcept {
    try {
        const auto* fault = GShareFault.load(std::memory_order_acquire);
        for (std::int32_t p = FIndex; p < PartitionCount; p += FMax) {
            if (fault != nullptr) {
                (*fault)(p);
            }
            Process(p);
        }
    } catch (...) {
        FError = std::current_exception();
    }
    FDoneEvent.store(true, std::memory_order_release);
    FDoneEvent.notify_all();
}

void TIndexShare::WaitFor() {
    FDoneEvent.wait(false, std::memory_order_acquire);
    if (FError) {
        std::exception_ptr error = std::move(FError);
        FError = nullptr;
        std::rethrow_exception(error);
    }
}

TShareFaultInjection::TShareFaultInjection(std::function<void(std::int32_t)> fault)
    : FFault(std::move(fault)) {
    GShareFault.store(&FFault, std::memory_order_release);
}

TShareFaultInjection::~TShareFaultInjection() {
    GShareFault.store(nullptr, std::memory_order_release);
}

void TSortThread::Process(std::int32_t p) { FCoreDB.SubDBs[static_cast<std::size_t>(p)].Sort(); }

void TSortAndMergeThread::Process(std::int32_t p) {
    auto& source = FCoreDB.SubDBs[static_cast<std::size_t>(p)];
    auto& target = FDB.SubDBs[static_cast<std::size_t>(p)];
    // A merge of one fingerprint meets partitions that are already in order; one linear check
    // is much cheaper than sorting them again.
    source.SortIfUnsorted();
    target.SortIfUnsorted();
    source.MergeInto(target);
}

std::vector<std::string> RunShares(std::vector<std::unique_ptr<TIndexShare>>& shares,
                                   TShareMode mode) {
    std::vector<std::jthread> workers;
    if (mode == TShareMode::smThreads) {
        workers.reserve(shares.size());
        for (auto& share : shares) {
            TIndexShare* job = share.get();
            try {
                workers.emplace_back([job] { job->Execute(); });
            } catch (const std::system_error&) {
                job->Execute();
            }
        }
    } else {
        for (auto& share : shares) {
            share->Execute();
        }
    }
    std::vector<std::string> lines;
    for (auto& share : shares) {
        try {
            share->WaitFor();
        } catch (...) {
            lines.push_back(MessageOf(std::current_exception()));
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    return lines;
}

std::string ComposeShareErrors(const std::string& heading, const std::vector<std::string>& lines) {
    std::string message = heading;
    for (const auto& line : lines) {
        message += line;
        message += "\r\n";
    }
    return message;
}

}  // namespace orvane::database
