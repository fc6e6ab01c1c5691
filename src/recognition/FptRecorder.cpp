#include "recognition/FptRecorder.h"

#include <algorithm>
#include <utility>

#include "tracking/IRecognitionPause.h"

namespace orvane::recognition {

void TRecInfo::ResetSongServer() {
    const std::lock_guard guard(FLock);
    if (FSongServer) FSongServer->Reset();
}

TRefPtr<fingerprint::ISongServer> TRecInfo::GetSongServer() const {
    const std::lock_guard guard(FLock);
    return FSongServer;
}

void TRecInfo::SetSongServer(TRefPtr<fingerprint::ISongServer> songServer) {
    const std::lock_guard guard(FLock);
    FSongServer = std::move(songServer);
}

void TRecInfo::AppendKeys(const std::uint32_t* keys, std::int32_t count) {
    if (count <= 0) return;
    const std::lock_guard guard(FLock);
    if (!FSongServer) return;
    FSongServer->Add(keys, count);
    if (CaptureLimitReached(FSongServer->SongFile()->Length)) FActive.store(false);
}

std::int32_t TRecInfo::KeyCount() const {
    const std::lock_guard guard(FLock);
    return FSongServer ? FSongServer->SongFile()->Length : 0;
}

FptRecorder::FptRecorder(tracking::IRecognitionPause& pause) : FPause(pause) {}

void FptRecorder::registerRecording(const TRefPtr<IRecInfo>& capture, std::int32_t channel) {
    if (!capture) return;
    capture->SetSongServer(MakeRef<fingerprint::TSongServer>());
    capture->SetChannel(channel);
    capture->Activate();
    const tracking::TRecognitionPauseGuard pause(FPause);
    const std::lock_guard guard(FLock);
    if (std::find(FRecs.begin(), FRecs.end(), capture) == FRecs.end()) FRecs.push_back(capture);
}

void FptRecorder::unregisterRecording(const TRefPtr<IRecInfo>& capture) {
    if (!capture) return;
    // Deactivated first, so a walk that is under way skips it at once.
    capture->Deactivate();
    TRefPtr<IRecInfo> removed;
    {
        const std::lock_guard guard(FLock);
        const auto it = std::find(FRecs.begin(), FRecs.end(), capture);
        if (it == FRecs.end()) return;
        removed = std::move(*it);
        FRecs.erase(it);
    }
    // The list's reference goes outside the lock: it may be the last one.
}

std::vector<TRefPtr<IRecInfo>> FptRecorder::Recs() const {
    const std::lock_guard guard(FLock);
    return FRecs;
}

std::int32_t FptRecorder::Count() const {
    const std::lock_guard guard(FLock);
    return static_cast<std::int32_t>(FRecs.size());
}

void FptRecorder::AddKeys(std::int32_t channelId, const std::uint32_t* keys, std::int32_t count) {
    const std::lock_guard guard(FLock);
    for (const TRefPtr<IRecInfo>& capture : FRecs) {
        if (capture->GetActive() && capture->GetChannel() == channelId) {
            capture->AppendKeys(keys, count);
        }
    }
}

}  // namespace orvane::recognition
