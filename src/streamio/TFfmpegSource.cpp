#include "streamio/TFfmpegSource.h"

#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "stream/IcyMetadata.h"

namespace orvane::streamio {

namespace {

using stream::EStreamError;

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
    return text;
}

int InterruptCallback(void* opaque) {
    return static_cast<const TFfmpegSource*>(opaque)->ShouldStop() ? 1 : 0;
}

/// Packets read between two looks at the ICY metadata (about a second of MP3).
constexpr int TitleCheckInterval = 32;

}  // namespace

void TFfmpegSource::TDeleters::operator()(AVFormatContext* p) const { avformat_close_input(&p); }
void TFfmpegSource::TDeleters::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void TFfmpegSource::TDeleters::operator()(AVPacket* p) const { av_packet_free(&p); }
void TFfmpegSource::TDeleters::operator()(AVFrame* p) const { av_frame_free(&p); }
void TFfmpegSource::TDeleters::operator()(SwrContext* p) const { swr_free(&p); }

TFfmpegSource::TFfmpegSource(std::string url, int openTimeoutSeconds, int noAudioSeconds)
    : FUrl(std::move(url)), FOpenTimeout(openTimeoutSeconds), FNoAudioTimeout(noAudioSeconds) {}

TFfmpegSource::~TFfmpegSource() = default;

bool TFfmpegSource::ShouldStop() const {
    if (FInterrupted.load()) return true;
    if (SteadyMs() <= FDeadlineMs.load()) return false;
    FTimedOut.store(true);
    return true;
}

void TFfmpegSource::SetDeadline(int seconds) {
    FDeadlineSeconds.store(seconds);
    FDeadlineMs.store(SteadyMs() + seconds * 1000LL);
}

void TFfmpegSource::Fail(const char* what, int code) {
    if (FInterrupted.load()) throw EStreamError("stopped");
    // FFmpeg keeps the time-out as the state of its connection: once hit, every later call
    // fails with it.
    if (FTimedOut.load() || SteadyMs() > FDeadlineMs.load()) {
        if (FFormat && FCodec) {
            throw EStreamError("no audio for " + std::to_string(FDeadlineSeconds.load()) + " s");
        }
        throw EStreamError("no answer within " + std::to_string(FDeadlineSeconds.load()) + " s");
    }
    throw EStreamError(std::string(what) + ": " + ErrorText(code));
}

void TFfmpegSource::Open() {
    static const bool networkReady = [] {
        avformat_network_init();
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)networkReady;
    SetDeadline(FOpenTimeout);

    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) throw EStreamError("out of memory");
    raw->interrupt_callback.callback = InterruptCallback;
    raw->interrupt_callback.opaque = this;
    // Bounded probing: a stream that keeps sending headers or junk is given up on.
    raw->probesize = 1 << 20;
    // Audio codecs are known from their first frames; a live stream is not waited on longer.
    raw->max_analyze_duration = AV_TIME_BASE;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "icy", "1", 0);
    av_dict_set(&options, "user_agent", "orvane3", 0);
    const std::string timeoutUs = std::to_string(stream::NoAudioTimeoutSeconds * 1000000LL);
    // "timeout" is the socket time-out of HTTP and RTSP; for RTMP it would mean listening.
    if (!FUrl.starts_with("rtmp")) av_dict_set(&options, "timeout", timeoutUs.c_str(), 0);
    av_dict_set(&options, "rw_timeout", timeoutUs.c_str(), 0);
    av_dict_set(&options, "reconnect", "0", 0);
    int rc = avformat_open_input(&raw, FUrl.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) Fail("cannot open the stream", rc);  // raw was freed by FFmpeg
    FFormat.reset(raw);

    rc = avformat_find_stream_info(FFormat.get(), nullptr);
    if (rc < 0) Fail("cannot read the stream's format", rc);
    // Probing stops quietly at a time-out, leaving the connection unusable.
    if (FTimedOut.load()) Fail("cannot read the stream's format", AVERROR_EXIT);
    const AVCodec* codec = nullptr;
    rc = av_find_best_stream(FFormat.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (rc < 0 || codec == nullptr) {
        if (rc == AVERROR_DECODER_NOT_FOUND)
            throw EStreamError("no decoder for the stream's audio");
        if (FInterrupted.load()) throw EStreamError("stopped");
        throw EStreamError("the stream holds no audio");
    }
    FStreamIndex = rc;
    for (unsigned i = 0; i < FFormat->nb_streams; ++i) {
        if (static_cast<int>(i) != FStreamIndex) FFormat->streams[i]->discard = AVDISCARD_ALL;
    }
    FCodec.reset(avcodec_alloc_context3(codec));
    if (!FCodec) throw EStreamError("out of memory");
    rc = avcodec_parameters_to_context(FCodec.get(), FFormat->streams[FStreamIndex]->codecpar);
    if (rc < 0) Fail("cannot set up the decoder", rc);
    rc = avcodec_open2(FCodec.get(), codec, nullptr);
    if (rc < 0) Fail("cannot open the decoder", rc);
    FPacket.reset(av_packet_alloc());
    FFrame.reset(av_frame_alloc());
    if (!FPacket || !FFrame) throw EStreamError("out of memory");
    ReadTitle();
    SetDeadline(FNoAudioTimeout);
}

bool TFfmpegSource::Read(std::vector<std::int16_t>& samples) {
    if (!FFormat || !FCodec) throw EStreamError("the stream is not open");
    // Time the caller spent between reads (waiting for room in its ring) is not silence.
    if (FLastReadGaveAudio) SetDeadline(FNoAudioTimeout);
    const std::size_t before = samples.size();
    auto receive = [&] {
        for (;;) {
            const int rc = avcodec_receive_frame(FCodec.get(), FFrame.get());
            if (rc == AVERROR(EAGAIN)) return true;
            if (rc == AVERROR_EOF) return false;
            if (rc < 0) Fail("cannot decode the stream", rc);
            Convert(samples);
            av_frame_unref(FFrame.get());
        }
    };
    if (!receive()) {
        FConverter.Flush(samples);
        return false;
    }
    const int rc = av_read_frame(FFormat.get(), FPacket.get());
    if (rc == AVERROR_EOF) {
        avcodec_send_packet(FCodec.get(), nullptr);
        receive();
        FConverter.Flush(samples);
        return false;
    }
    if (rc < 0) Fail("cannot read the stream", rc);
    if (++FPacketsSinceTitle >= TitleCheckInterval) {
        FPacketsSinceTitle = 0;
        ReadTitle();
    }
    if (FPacket->stream_index == FStreamIndex) {
        const int sent = avcodec_send_packet(FCodec.get(), FPacket.get());
        // Damaged packets are skipped; a stream of nothing but damage runs into the
        // no-audio time-out.
        if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
            av_packet_unref(FPacket.get());
            Fail("cannot decode the stream", sent);
        }
    }
    av_packet_unref(FPacket.get());
    receive();
    FLastReadGaveAudio = samples.size() > before;
    if (FLastReadGaveAudio) SetDeadline(FNoAudioTimeout);
    return true;
}

void TFfmpegSource::Convert(std::vector<std::int16_t>& samples) {
    const AVFrame& frame = *FFrame;
    const int channels = frame.ch_layout.nb_channels;
    if (channels < 1 || channels > 8 || frame.sample_rate <= 0 || frame.nb_samples <= 0) {
        throw EStreamError("the stream's audio format is not usable");
    }
    if (!FSwr || FSwrRate != frame.sample_rate || FSwrChannels != channels ||
        FSwrFormat != frame.format) {
        AVChannelLayout layout{};
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&layout, channels);
        } else if (av_channel_layout_copy(&layout, &frame.ch_layout) < 0) {
            throw EStreamError("out of memory");
        }
        SwrContext* swr = nullptr;
        int rc = swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, frame.sample_rate, &layout,
                                     static_cast<AVSampleFormat>(frame.format), frame.sample_rate,
                                     0, nullptr);
        av_channel_layout_uninit(&layout);
        FSwr.reset(swr);
        if (rc >= 0) rc = swr_init(FSwr.get());
        if (rc < 0) {
            FSwr.reset();
            Fail("cannot convert the stream's samples", rc);
        }
        FSwrRate = frame.sample_rate;
        FSwrChannels = channels;
        FSwrFormat = frame.format;
    }
    // Only the sample format changes here; mixing and the rate go the files' way.
    const int room = swr_get_out_samples(FSwr.get(), frame.nb_samples);
    if (room < 0) Fail("cannot convert the stream's samples", room);
    FPcm.resize(static_cast<std::size_t>(room) * static_cast<std::size_t>(channels) * 2);
    std::uint8_t* out = FPcm.data();
    const int got =
        swr_convert(FSwr.get(), &out, room, const_cast<const std::uint8_t**>(frame.extended_data),
                    frame.nb_samples);
    if (got < 0) Fail("cannot convert the stream's samples", got);
    try {
        FConverter.Convert(
            audio::TPcmFormat{channels, 16, static_cast<std::uint32_t>(FSwrRate)}, FPcm.data(),
            static_cast<std::size_t>(got) * static_cast<std::size_t>(channels) * 2, samples);
    } catch (const EError& e) {
        throw EStreamError(e.what());
    }
}

void TFfmpegSource::ReadTitle() {
    if (!FFormat || FFormat->pb == nullptr) return;
    std::uint8_t* packet = nullptr;
    if (av_opt_get(FFormat->pb, "icy_metadata_packet", AV_OPT_SEARCH_CHILDREN, &packet) < 0 ||
        packet == nullptr) {
        return;
    }
    const std::optional<std::string> title =
        stream::ParseStreamTitle(reinterpret_cast<const char*>(packet));
    av_free(packet);
    if (!title) return;
    std::lock_guard lock(FTitleLock);
    FTitle = *title;
}

std::string TFfmpegSource::StreamTitle() const {
    std::lock_guard lock(FTitleLock);
    return FTitle;
}

}  // namespace orvane::streamio
