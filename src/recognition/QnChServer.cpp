#include "recognition/QnChServer.h"

#include <chrono>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "signal/QnFFT.h"

namespace orvane::recognition {

namespace {

std::int32_t CurrentTid() { return static_cast<std::int32_t>(::syscall(SYS_gettid)); }

}  // namespace

QnChServer::QnChServer(TRecognitionLock& lock, IBlockProcessor& search,
                       const signal::QnKeyConversion& converter, TSearchSettings& settings)
    : FLock(lock), FSearch(search), FConverter(converter), FSettings(settings) {
    std::lock_guard guard(FLock);
    FLock.PauseRequested.store(false);
    FLock.PauseAcknowledged.store(false);
}

QnChServer::~QnChServer() { Terminate(); }

void QnChServer::AddChannel(TChannelBasic& channel) {
    std::lock_guard guard(FLock);
    FChannels.push_back(&channel);
    channel.SetRecognitionWakeup(&FWakeup);
}

void QnChServer::Start() {
    if (FThread.joinable()) return;
    FRunning.store(true, std::memory_order_release);
    FThread = std::jthread([this](std::stop_token stop) { Execute(std::move(stop)); });
}

void QnChServer::Terminate() {
    if (!FThread.joinable()) return;
    FThread.request_stop();
    FThread.join();
}

void QnChServer::PublishSettings(const TRecognitionOptions& options) {
    std::lock_guard guard(FLock);
    FSettings.Form3CheckBoxBalloonChecked = options.Form3CheckBoxBalloonChecked;
    FSettings.Form3highIntegChecked = options.Form3highIntegChecked;
    FSettings.Form3Checkbox2checked = options.Form3Checkbox2checked;
    FSettings.Form3KeepLongest = options.Form3KeepLongest;
    FSettings.RobustSearch = options.RobustSearch;
}

bool QnChServer::SetPriority(TRecognitionPriority priority) {
    const std::int32_t tid = FNativeTid.load();
    if (tid == 0) return false;
    const int nice = priority == TRecognitionPriority::rpLow    ? 4
                     : priority == TRecognitionPriority::rpHigh ? -4
                                                                : 0;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

void QnChServer::ForgetFingerprint(const fingerprint::ISongServer& song) {
    std::lock_guard guard(FLock);
    for (TChannelBasic* channel : FChannels) {
        for (FoundItem& entry : channel->FoundItemsList) {
            if (entry.SongServer.get() == &song) entry = FoundItem{};
        }
    }
}

void QnChServer::ReleaseAll() {
    std::lock_guard guard(FLock);
    for (TChannelBasic* channel : FChannels) channel->FoundItemsList.fill(FoundItem{});
}

void QnChServer::RefreshWindow() {
    if (!OnQueryWindow) return;
    const TWindowState state = OnQueryWindow();
    // Written without the lock: only this thread writes or reads these two fields.
    FSettings.Form1Visible = state.Visible;
    FSettings.Form1TrayVisible = state.TrayVisible;
}

bool QnChServer::Pass() {
    ++FPassNumber;
    bool worked = false;
    {
        std::lock_guard guard(FLock);
        if (!FLock.PauseRequested.load()) {
            const auto n = static_cast<std::int64_t>(FChannels.size());
            for (std::int64_t i = 0; i < n; ++i) {
                TChannelBasic& channel =
                    *FChannels[static_cast<std::size_t>((FPassNumber + i) % n)];
                if (!channel.Active() || !channel.newDataAvailable.load()) continue;
                worked = true;
                channel.ProcessWaitingBlocks(FSearch);
                channel.ProgressBarSignalStrengthPosition.store(FConverter.Energy);
            }
        }
    }
    FPassCount.fetch_add(1);
    if (!worked) {
        std::lock_guard guard(FLock);
        FLock.PauseAcknowledged.store(FLock.PauseRequested.load());
    }
    return worked;
}

void QnChServer::Execute(std::stop_token stop) {
    FNativeTid.store(CurrentTid());
    FThreadID.store(CurrentTid());
    RefreshWindow();
    FPassNumber = 0;
    while (!stop.stop_requested()) {
        if (!Pass()) {
            // Audio in keeps this pacing; a file channel wakes the thread when it has data.
            FWakeup.WaitFor(stop, std::chrono::milliseconds(IdleSleepMs));
            RefreshWindow();
        }
    }
    FRunning.store(false, std::memory_order_release);
}

}  // namespace orvane::recognition
