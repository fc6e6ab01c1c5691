#include "platform/PulseMixer.h"

#include <chrono>
#include <pulse/pulseaudio.h>

namespace orvane::platform {

namespace {

constexpr auto ServerTimeout = std::chrono::seconds(5);
constexpr int PollSliceMicroseconds = 50'000;
/// Events handled by one Poll at most, so a flood of reports cannot hold the caller.
constexpr int MaxPollDispatches = 64;
/// The name PulseAudio resolves to its default source.
constexpr char DefaultSourceName[] = "@DEFAULT_SOURCE@";

struct TMainLoopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct TContextUnref {
    void operator()(pa_context* context) const {
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct TOperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};

/// One answer to a source query.
struct TSourceReply {
    bool Found = false;
    bool Failed = false;
    TPulseSourceControls Controls;
};

/// One answer to a request that only succeeds or fails.
struct TSuccessReply {
    bool Done = false;
    bool Success = false;
};

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* user) {
    auto* reply = static_cast<TSourceReply*>(user);
    if (eol < 0) {
        reply->Failed = true;
        return;
    }
    if (eol != 0 || !info) return;
    TPulseSourceControls& controls = reply->Controls;
    controls.Index = info->index;
    controls.Name = info->name ? info->name : "";
    controls.Description = info->description ? info->description : controls.Name;
    controls.ChannelNames.clear();
    controls.Volumes.clear();
    for (std::uint8_t channel = 0; channel < info->volume.channels; ++channel) {
        controls.Volumes.push_back(info->volume.values[channel]);
        const char* name = channel < info->channel_map.channels
                               ? pa_channel_position_to_string(info->channel_map.map[channel])
                               : nullptr;
        controls.ChannelNames.emplace_back(name ? name : "");
    }
    controls.Mute = info->mute != 0;
    controls.VolumeSteps = info->n_volume_steps > 1 ? info->n_volume_steps : PulseVolumeNorm + 1;
    reply->Found = true;
}

void OnSuccess(pa_context*, int success, void* user) {
    auto* reply = static_cast<TSuccessReply*>(user);
    reply->Done = true;
    reply->Success = success != 0;
}

}  // namespace

class TPulseMixer::TImpl {
public:
    explicit TImpl(const std::string& sourceName) : FLoop(pa_mainloop_new()) {
        if (!FLoop) throw EPulseError("Out of memory");
        FContext.reset(pa_context_new(pa_mainloop_get_api(FLoop.get()), "orvane3 mixer"));
        if (!FContext) throw EPulseError("Out of memory");
        if (pa_context_connect(FContext.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            throw EPulseError(LastError());
        }
        RunUntil([this] {
            const pa_context_state_t state = pa_context_get_state(FContext.get());
            if (!PA_CONTEXT_IS_GOOD(state)) throw EPulseError(LastError());
            return state == PA_CONTEXT_READY;
        });
        // The source by the name it has now, so the default source stays the one opened even
        // when the server's default changes while the mixer is open.
        FName = sourceName.empty() ? DefaultSourceName : sourceName;
        const TPulseSourceControls controls = Read();
        FName = controls.Name;
        FIndex = controls.Index;

        pa_context_set_subscribe_callback(FContext.get(), OnSubscription, this);
        TSuccessReply reply;
        Wait(pa_context_subscribe(FContext.get(), PA_SUBSCRIPTION_MASK_SOURCE, OnSuccess, &reply));
        if (!reply.Success) throw EPulseError(LastError());
        FChanged = false;
    }

    TPulseSourceControls Read() {
        TSourceReply reply;
        Wait(pa_context_get_source_info_by_name(FContext.get(), FName.c_str(), OnSourceInfo,
                                                &reply));
        if (reply.Failed || !reply.Found) throw EPulseError(LastError("No such entity"));
        return reply.Controls;
    }

    void SetVolumes(const std::vector<std::uint32_t>& volumes) {
        if (volumes.empty() || volumes.size() > PA_CHANNELS_MAX) {
            throw EPulseError(pa_strerror(PA_ERR_INVALID));
        }
        pa_cvolume volume{};
        volume.channels = static_cast<std::uint8_t>(volumes.size());
        for (std::size_t channel = 0; channel < volumes.size(); ++channel) {
            if (volumes[channel] > PA_VOLUME_MAX) throw EPulseError(pa_strerror(PA_ERR_INVALID));
            volume.values[channel] = volumes[channel];
        }
        TSuccessReply reply;
        Wait(pa_context_set_source_volume_by_name(FContext.get(), FName.c_str(), &volume,
                                                  OnSuccess, &reply));
        if (!reply.Success) throw EPulseError(LastError());
    }

    void SetMute(bool mute) {
        TSuccessReply reply;
        Wait(pa_context_set_source_mute_by_name(FContext.get(), FName.c_str(), mute ? 1 : 0,
                                                OnSuccess, &reply));
        if (!reply.Success) throw EPulseError(LastError());
    }

    bool Poll() {
        for (int dispatched = 0; dispatched < MaxPollDispatches; ++dispatched) {
            const int result = pa_mainloop_iterate(FLoop.get(), 0, nullptr);
            if (result < 0) throw EPulseError("Connection terminated");
            if (result == 0) break;
        }
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext.get()))) {
            throw EPulseError(LastError());
        }
        const bool changed = FChanged;
        FChanged = false;
        return changed;
    }

private:
    static void OnSubscription(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                               void* user) {
        auto* self = static_cast<TImpl*>(user);
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && index == self->FIndex) {
            self->FChanged = true;
        }
    }

    std::string LastError(const char* fallback = nullptr) const {
        const int error = pa_context_errno(FContext.get());
        if (error == PA_OK && fallback) return fallback;
        return pa_strerror(error);
    }

    /// Iterates the loop until `operation` is done.
    void Wait(pa_operation* raw) {
        if (!raw) throw EPulseError(LastError());
        std::unique_ptr<pa_operation, TOperationUnref> operation(raw);
        RunUntil([&] {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext.get()))) {
                throw EPulseError(LastError());
            }
            return pa_operation_get_state(operation.get()) != PA_OPERATION_RUNNING;
        });
    }

    template <typename TDone>
    void RunUntil(TDone done) {
        const auto deadline = std::chrono::steady_clock::now() + ServerTimeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) throw EPulseError("Timeout");
            if (pa_mainloop_prepare(FLoop.get(), PollSliceMicroseconds) < 0 ||
                pa_mainloop_poll(FLoop.get()) < 0 || pa_mainloop_dispatch(FLoop.get()) < 0) {
                throw EPulseError("Connection terminated");
            }
        }
    }

    std::unique_ptr<pa_mainloop, TMainLoopFree> FLoop;
    std::unique_ptr<pa_context, TContextUnref> FContext;
    std::string FName;
    std::uint32_t FIndex = PA_INVALID_INDEX;
    bool FChanged = false;
};

TPulseMixer::TPulseMixer(const std::string& sourceName)
    : FImpl(std::make_unique<TImpl>(sourceName)) {}

TPulseMixer::~TPulseMixer() = default;

TPulseSourceControls TPulseMixer::Read() { return FImpl->Read(); }

void TPulseMixer::SetVolumes(const std::vector<std::uint32_t>& volumes) {
    FImpl->SetVolumes(volumes);
}

void TPulseMixer::SetMute(bool mute) { FImpl->SetMute(mute); }

bool TPulseMixer::Poll() { return FImpl->Poll(); }

}  // namespace orvane::platform
