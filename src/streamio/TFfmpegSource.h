// A network stream (HTTP/HTTPS with ICY metadata, HLS, RTSP, RTMP; any container and codec
// FFmpeg knows) decoded by FFmpeg and brought into the engine audio format by the same
// conversion the file readers use.
// Thread: opened and read by the stream's worker; Interrupt and StreamTitle from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "stream/IStreamSource.h"
#include "stream/TEngineConverter.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace orvane::streamio {

/// Seconds an Open may take (connecting, headers, probing) before it gives up.
inline constexpr int OpenTimeoutSeconds = 15;

class TFfmpegSource final : public stream::IStreamSource {
public:
    /// `openTimeoutSeconds`: how long Open may take; `noAudioSeconds`: how long reading may go
    /// on without audio.
    explicit TFfmpegSource(std::string url, int openTimeoutSeconds = OpenTimeoutSeconds,
                           int noAudioSeconds = stream::NoAudioTimeoutSeconds);
    ~TFfmpegSource() override;
    TFfmpegSource(const TFfmpegSource&) = delete;
    TFfmpegSource& operator=(const TFfmpegSource&) = delete;

    /// Connects (asking for ICY metadata), reads the headers and opens the decoder of the best
    /// audio stream. Throws EStreamError with FFmpeg's text, or "no answer within 15 s" (the open
    /// time-out).
    void Open() override;
    /// Reads and decodes packets until some audio came out (or the stream ended). Throws
    /// EStreamError with FFmpeg's text, or "no audio for 10 s".
    bool Read(std::vector<std::int16_t>& samples) override;
    void Interrupt() override { FInterrupted.store(true); }
    std::string StreamTitle() const override;
    bool RealTime() const override { return true; }

    /// FFmpeg's interrupt callback: stop when interrupted or past the deadline.
    bool ShouldStop() const;

private:
    struct TDeleters {
        void operator()(AVFormatContext* p) const;
        void operator()(AVCodecContext* p) const;
        void operator()(AVPacket* p) const;
        void operator()(AVFrame* p) const;
        void operator()(SwrContext* p) const;
    };
    void SetDeadline(int seconds);
    [[noreturn]] void Fail(const char* what, int code);
    void Convert(std::vector<std::int16_t>& samples);
    void ReadTitle();

    std::string FUrl;
    int FOpenTimeout;
    int FNoAudioTimeout;
    std::unique_ptr<AVFormatContext, TDeleters> FFormat;
    std::unique_ptr<AVCodecContext, TDeleters> FCodec;
    std::unique_ptr<AVPacket, TDeleters> FPacket;
    std::unique_ptr<AVFrame, TDeleters> FFrame;
    std::unique_ptr<SwrContext, TDeleters> FSwr;
    int FSwrRate = 0, FSwrChannels = 0, FSwrFormat = -1;  // what FSwr converts from
    int FStreamIndex = -1;
    int FPacketsSinceTitle = 0;
    bool FLastReadGaveAudio = true;
    std::vector<std::uint8_t> FPcm;  // interleaved s16 at the source rate
    stream::TEngineConverter FConverter;
    std::atomic<bool> FInterrupted{false};
    mutable std::atomic<bool> FTimedOut{false};  // the interrupt callback hit the deadline
    std::atomic<std::int64_t> FDeadlineMs{0};    // steady ms
    std::atomic<int> FDeadlineSeconds{0};
    mutable std::mutex FTitleLock;  // guards FTitle
    std::string FTitle;
};

}  // namespace orvane::streamio
