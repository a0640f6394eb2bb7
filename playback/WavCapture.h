// WavCapture: an output that needs no sound device. Its ports record what the player sends, with
// the time each message was sent; whenever a stream closes, the whole capture so far is rendered
// through the built-in synthesiser into one WAV file, so that the file always holds every
// playback of the run, in order, and is replaced in one step (never left half-written).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/Clock.h"
#include "playback/OutputPort.h"
#include "playback/RecordingPort.h"
#include "playback/WavRender.h"

namespace varimel {

// One stream's messages as its port received them, between the port's opening and closing.
struct CapturedStream {
    ClockTime opened = 0;
    ClockTime closed = 0;
    std::vector<RecordedMessage> messages;
};

struct CaptureRenderOptions {
    std::string soundFont;  // empty: the configured or system sound font
    // After the last stream, the last notes ring out for at most this long.
    double tailSeconds = 3.0;
    // The silence between two streams is kept as timed, up to this long: a long idle between
    // two playbacks is shortened to it, and so is one inside a stream while no note sounds (a
    // stream stays open after a chord is auditioned).
    double maxGapSeconds = 2.0;
};

// Renders the streams one after another into a WAV file: each message at its sent time from its
// stream's opening, the streams separated by the time between them (see maxGapSeconds). Streams
// without messages take no time. `musicSeconds` of the result is the length without the tail.
// Fails, writing nothing, without the built-in synthesiser or a sound font, without anything
// to play, or when the file cannot be written.
WavRenderResult renderCaptureToWav(const std::vector<CapturedStream>& streams,
                                   const CaptureRenderOptions& options,
                                   const std::filesystem::path& path);

class WavCapture : public std::enable_shared_from_this<WavCapture> {
  public:
    // A capture into `path` whose ports read `clock`; null, with `error` set, when it cannot
    // work: a build without the built-in synthesiser, no sound font, or a target that is not a
    // file that can be written.
    static std::shared_ptr<WavCapture> create(const std::filesystem::path& path, Clock& clock,
                                              const CaptureRenderOptions& options,
                                              std::string& error);
    // Renders what is still pending, then ends its thread.
    ~WavCapture();
    WavCapture(const WavCapture&) = delete;
    WavCapture& operator=(const WavCapture&) = delete;

    // A port for one stream; closing it (dropping it) renders the capture.
    std::unique_ptr<OutputPort> openPort();
    // Blocks until every closed stream is in the file; answers the last render's result (not
    // ok, with an empty error, when nothing has been rendered yet).
    WavRenderResult flush();
    // Told (on the capture's thread) why a render failed. Default: a line on standard error.
    void setErrorHandler(std::function<void(const std::string&)> handler);

    const std::filesystem::path& path() const { return path_; }

  private:
    class Port;

    WavCapture(std::filesystem::path path, Clock& clock, CaptureRenderOptions options);
    void streamClosed(CapturedStream stream);
    void run();

    const std::filesystem::path path_;
    Clock& clock_;
    const CaptureRenderOptions options_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CapturedStream> streams_;
    std::size_t closedCount_ = 0;    // streams closed so far
    std::size_t renderedCount_ = 0;  // of them, in the file (or tried)
    bool ending_ = false;
    WavRenderResult lastResult_;
    std::function<void(const std::string&)> onError_;
    std::thread thread_;
};

}  // namespace varimel
