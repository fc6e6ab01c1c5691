#include "platform/PulseDevices.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <pulse/pulseaudio.h>

namespace orvane::platform {

namespace {

constexpr auto ServerTimeout = std::chrono::seconds(5);
constexpr int PollSliceMicroseconds = 50'000;

struct TMainLoopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct TContextUnref {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
struct TOperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};

/// One round trip to the server on a private main loop, bounded by ServerTimeout.
class TServerQuery {
public:
    TServerQuery() : FLoop(pa_mainloop_new()) {
        if (!FLoop) throw EPulseError("Out of memory");
        FContext.reset(pa_context_new(pa_mainloop_get_api(FLoop.get()), "orvane3"));
        if (!FContext) throw EPulseError("Out of memory");
        if (pa_context_connect(FContext.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            throw EPulseError(pa_strerror(pa_context_errno(FContext.get())));
        }
        RunUntil([this] {
            const pa_context_state_t state = pa_context_get_state(FContext.get());
            if (!PA_CONTEXT_IS_GOOD(state)) {
                throw EPulseError(pa_strerror(pa_context_errno(FContext.get())));
            }
            return state == PA_CONTEXT_READY;
        });
    }

    pa_context* Context() const { return FContext.get(); }

    /// Iterates the loop until `operation` is done.
    void Wait(pa_operation* raw) {
        if (!raw) throw EPulseError(pa_strerror(pa_context_errno(FContext.get())));
        std::unique_ptr<pa_operation, TOperationUnref> operation(raw);
        RunUntil([&] {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext.get()))) {
                throw EPulseError(pa_strerror(pa_context_errno(FContext.get())));
            }
            return pa_operation_get_state(operation.get()) != PA_OPERATION_RUNNING;
        });
    }

private:
    template <typename TDone>
    void RunUntil(TDone done) {
        const auto deadline = std::chrono::steady_clock::now() + ServerTimeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                throw EPulseError("Timeout");
            }
            if (pa_mainloop_prepare(FLoop.get(), PollSliceMicroseconds) < 0 ||
                pa_mainloop_poll(FLoop.get()) < 0 || pa_mainloop_dispatch(FLoop.get()) < 0) {
                throw EPulseError("Connection terminated");
            }
        }
    }

    std::unique_ptr<pa_mainloop, TMainLoopFree> FLoop;
    std::unique_ptr<pa_context, TContextUnref> FContext;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* user) {
    if (info && info->default_source_name) {
        static_cast<TPulseSources*>(user)->DefaultSource = info->default_source_name;
    }
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* user) {
    if (eol != 0 || !info) return;
    TPulseSource source;
    source.Index = info->index;
    source.Name = info->name ? info->name : "";
    source.Description = info->description ? info->description : source.Name;
    source.Monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    static_cast<TPulseSources*>(user)->Sources.push_back(std::move(source));
}

}  // namespace

std::string SoundServerProblem(const std::string& pulseText) {
    // PulseAudio's texts may be translated: compare with its own.
    if (pulseText == pa_strerror(PA_ERR_CONNECTIONREFUSED)) {
        return "no sound server (PulseAudio or PipeWire) is running.";
    }
    if (pulseText == pa_strerror(PA_ERR_TIMEOUT) || pulseText == "Timeout") {
        return "the sound server (PulseAudio or PipeWire) does not answer.";
    }
    if (pulseText == pa_strerror(PA_ERR_ACCESS)) {
        return "the sound server (PulseAudio or PipeWire) refuses this user.";
    }
    return {};
}

std::string CaptureFailureText(const std::string& caption, const std::string& device,
                               const std::string& pulseText) {
    const std::string problem = SoundServerProblem(pulseText);
    if (problem.empty()) return pulseText;
    return caption + ": the audio input \"" + (device.empty() ? "default" : device) +
           "\" cannot be opened: " + problem + " (" + pulseText + ")";
}

std::string ListingFailureText(const std::string& pulseText) {
    const std::string problem = SoundServerProblem(pulseText);
    if (problem.empty()) return "the sound server could not be reached: " + pulseText;
    return "the audio inputs cannot be listed: " + problem + " (" + pulseText + ")";
}

TPulseSources ListPulseSources() {
    TServerQuery query;
    TPulseSources result;
    query.Wait(pa_context_get_server_info(query.Context(), OnServerInfo, &result));
    query.Wait(pa_context_get_source_info_list(query.Context(), OnSourceInfo, &result));
    std::sort(result.Sources.begin(), result.Sources.end(),
              [](const TPulseSource& a, const TPulseSource& b) { return a.Index < b.Index; });
    return result;
}

QnDevices::QnDevices() { loadDevices(); }

void QnDevices::loadDevices() {
    disposeLInfos();
    ErrorMessage.clear();
    Sources = {};
    addDevice({}, audio::DefaultWaveDevice, 1);
    try {
        Sources = ListPulseSources();
    } catch (const EPulseError& e) {
        ErrorMessage = e.what();
        return;
    }
    for (const TPulseSource& source : Sources.Sources) addDevice(source.Name, source.Index, 0);
}

void QnDevices::addDevice(const std::string& name, std::uint32_t deviceNo,
                          std::uint16_t manufacturer) {
    LInfos.push_back(audio::TLInfo{name, deviceNo, manufacturer});
}

void QnDevices::disposeLInfos() { LInfos.clear(); }

const audio::TLInfo* QnDevices::FindByName(const std::string& name) const {
    const auto found = std::find_if(LInfos.begin(), LInfos.end(), [&](const audio::TLInfo& info) {
        return info.DevName == name;
    });
    return found == LInfos.end() ? nullptr : &*found;
}

}  // namespace orvane::platform
