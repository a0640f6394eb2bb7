#include "playback/WavCapture.h"

#include <algorithm>
#include <iostream>
#include <set>
#include <system_error>
#include <utility>

#include "engine/SafeWrite.h"
#include "playback/MidiResult.h"
#include "playback/SoundFont.h"

#if VARIMEL_HAVE_FLUIDSYNTH
#include "playback/WavWriter.h"
#endif

namespace varimel {

namespace {

constexpr double kNanosecondsPerSecond = 1e9;

double secondsBetween(ClockTime from, ClockTime to) {
    return static_cast<double>(to - from) / kNanosecondsPerSecond;
}

// Keeps the notes that sound after a message: note on adds one, note off (or note on at
// velocity 0) ends it, "all notes off" and "all sound off" end a channel's.
[[maybe_unused]] void trackSounding(uint32_t message, std::set<std::pair<int, int>>& sounding) {
    constexpr int kAllSoundOff = 120;
    constexpr int kAllNotesOff = 123;
    const int status = static_cast<int>(message & 0xF0);
    const int channel = static_cast<int>(message & 0x0F);
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    if (status == 0x90 && data2 > 0) {
        sounding.insert({channel, data1});
    } else if (status == 0x80 || status == 0x90) {
        sounding.erase({channel, data1});
    } else if (status == 0xB0 && (data1 == kAllSoundOff || data1 == kAllNotesOff)) {
        std::erase_if(sounding, [channel](const auto& note) { return note.first == channel; });
    }
}

}  // namespace

#if !VARIMEL_HAVE_FLUIDSYNTH

WavRenderResult renderCaptureToWav(const std::vector<CapturedStream>&, const CaptureRenderOptions&,
                                   const std::filesystem::path&) {
    WavRenderResult result;
    result.error = kNoSynthesiserText;
    return result;
}

#else

WavRenderResult renderCaptureToWav(const std::vector<CapturedStream>& streams,
                                   const CaptureRenderOptions& options,
                                   const std::filesystem::path& path) {
    WavRenderResult result;
    const bool empty = std::all_of(streams.begin(), streams.end(),
                                   [](const CapturedStream& s) { return s.messages.empty(); });
    if (empty) {
        result.error = "Nothing was played to capture.";
        return result;
    }
    const std::unique_ptr<fluid::WavWriter> writer =
        fluid::WavWriter::open(options.soundFont, path, result.error);
    if (!writer) return result;
    // Leaving early drops the writer unfinished: its temporary file goes, the target stays.
    auto fail = [&] {
        result.error = writer->error();
        return result;
    };

    double opening = 0;  // where the current stream opened, in seconds from the file's start
    bool first = true;
    ClockTime previousClose = 0;
    for (const CapturedStream& stream : streams) {
        if (stream.messages.empty()) continue;
        if (!first) {
            opening += std::clamp(secondsBetween(previousClose, stream.opened), 0.0,
                                  std::max(options.maxGapSeconds, 0.0));
        }
        first = false;
        // Times only move forward, also if a clock was reset under a stream.
        ClockTime at = stream.opened;
        // A stream stays open after a chord is auditioned: while nothing sounds, its idle is
        // shortened as the idle between two streams is.
        double idleCut = 0;
        std::set<std::pair<int, int>> sounding;
        for (const RecordedMessage& message : stream.messages) {
            const ClockTime previous = at;
            at = std::max(at, message.sent);
            if (sounding.empty() && message.sent > previous) {
                idleCut += std::max(secondsBetween(previous, at) - options.maxGapSeconds, 0.0);
            }
            if (!writer->renderUntil(opening + secondsBetween(stream.opened, at) - idleCut))
                return fail();
            if (message.silence) {
                writer->synth().silence();
                sounding.clear();
            } else {
                writer->synth().play(message.message);
                trackSounding(message.message, sounding);
            }
        }
        previousClose = std::max(at, stream.closed);
        if (sounding.empty()) {
            idleCut += std::max(secondsBetween(at, previousClose) - options.maxGapSeconds, 0.0);
        }
        opening += secondsBetween(stream.opened, previousClose) - idleCut;
    }
    // The sound goes on up to the last stream's close.
    if (!writer->renderUntil(opening)) return fail();
    return writer->finish(opening, options.tailSeconds);
}

#endif

// --- The capture -----------------------------------------------------------------------------

class WavCapture::Port final : public OutputPort {
  public:
    explicit Port(std::shared_ptr<WavCapture> capture)
        : capture_(std::move(capture)),
          recording_(std::make_shared<Recording>()),
          port_(recording_, capture_->clock_),
          opened_(capture_->clock_.now()) {}

    ~Port() override {
        try {
            capture_->streamClosed({opened_, capture_->clock_.now(), recording_->messages()});
        } catch (...) {
            // Out of memory while closing: this stream is lost, the file keeps the earlier ones.
        }
    }

    void send(uint32_t message, ClockTime due) override { port_.send(message, due); }
    void silence() override { port_.silence(); }

  private:
    std::shared_ptr<WavCapture> capture_;
    std::shared_ptr<Recording> recording_;
    RecordingPort port_;
    ClockTime opened_;
};

std::shared_ptr<WavCapture> WavCapture::create(const std::filesystem::path& path, Clock& clock,
                                               const CaptureRenderOptions& options,
                                               std::string& error) {
    error.clear();
    if (!canRenderWav()) {
        error = kNoSynthesiserText;
        return nullptr;
    }
    if (findSoundFont(options.soundFont).empty()) {
        error = midiResultText(midi_result::kNoSoundFont);
        return nullptr;
    }
    // The whole file is written again at each close: it must be a file, not a stream.
    std::error_code ignored;
    if (path.empty() || path == kStandardOutputName ||
        (std::filesystem::exists(path, ignored) &&
         !std::filesystem::is_regular_file(path, ignored))) {
        error = "A capture is written to a file: " + path.string() + " is not one.";
        return nullptr;
    }
    {
        // Fails now, not after the first playback, where the folder is missing or read-only.
        OutputFile probe;
        if (!probe.open(path)) {
            error = probe.error();
            return nullptr;
        }
    }
    std::shared_ptr<WavCapture> capture(new WavCapture(path, clock, options));
    try {
        capture->thread_ = std::thread([raw = capture.get()] { raw->run(); });
    } catch (const std::system_error& e) {
        error = "Cannot start the capture: " + std::string(e.what());
        return nullptr;
    }
    return capture;
}

WavCapture::WavCapture(std::filesystem::path path, Clock& clock, CaptureRenderOptions options)
    : path_(std::move(path)), clock_(clock), options_(std::move(options)) {
    onError_ = [](const std::string& text) { std::cerr << "varimel: " << text << '\n'; };
}

WavCapture::~WavCapture() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::unique_ptr<OutputPort> WavCapture::openPort() {
    return std::make_unique<Port>(shared_from_this());
}

WavRenderResult WavCapture::flush() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return renderedCount_ == streams_.size(); });
    return lastResult_;
}

void WavCapture::setErrorHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(mutex_);
    onError_ = std::move(handler);
}

void WavCapture::streamClosed(CapturedStream stream) {
    if (stream.messages.empty()) return;
    {
        std::lock_guard lock(mutex_);
        streams_.push_back(std::move(stream));
    }
    changed_.notify_all();
}

void WavCapture::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return ending_ || renderedCount_ < streams_.size(); });
        if (renderedCount_ == streams_.size()) return;  // ending, with nothing pending
        // Streams that close while this render runs are taken by the next one.
        const std::vector<CapturedStream> streams = streams_;
        lock.unlock();
        WavRenderResult result = renderCaptureToWav(streams, options_, path_);
        lock.lock();
        renderedCount_ = streams.size();
        lastResult_ = result;
        if (!result.ok && onError_) {
            const auto report = onError_;
            lock.unlock();
            report("The playback capture was not saved: " + result.error);
            lock.lock();
        }
        changed_.notify_all();
    }
}

}  // namespace varimel
