// PlayerContext: plays a composition on the MIDI output — a range of it or a loop, on a worker
// thread that feeds the stream with two alternating buffers — and sends single messages for the
// windows (program, volume, a chord, a style preview). The windows read the play position and
// tempo from it while it plays.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "engine/Apperr.h"
#include "engine/ChannelSettings.h"
#include "playback/Clock.h"
#include "playback/EventTable.h"
#include "playback/MidiStream.h"
#include "playback/OutputPort.h"

namespace varimel {

class TPlayerThread;

// The four ticks of the play range and the loop, held by the notes view. Written by the notes
// view and by the player's worker, so each is atomic.
struct PlayRange {
    static constexpr int kStart = 0;
    static constexpr int kEnd = 1;
    static constexpr int kLoopStart = 2;
    static constexpr int kLoopEnd = 3;

    std::array<std::atomic<int32_t>, 4> ticks{};

    int32_t operator[](int index) const { return ticks[static_cast<size_t>(index)].load(); }
    void set(int index, int32_t tick) { ticks[static_cast<size_t>(index)].store(tick); }
};

// The range selector: the index in PlayRange of the range's start.
namespace range_selector {
inline constexpr uint8_t kRange = 0;
inline constexpr uint8_t kLoop = 2;
}  // namespace range_selector

// Opens the output for a device number (-1: the default output); answers a MidiResult code.
using OutputOpener = std::function<int(int device, std::unique_ptr<OutputPort>& port)>;
// Shows an error to the user: caption and text.
using ErrorHandler = std::function<void(const std::string& caption, const std::string& text)>;

class PlayerContext {
  public:
    static constexpr int kDefaultDevice = -1;

    PlayerContext();
    // Stops playback, waits for the worker and closes the stream.
    ~PlayerContext();
    PlayerContext(const PlayerContext&) = delete;
    PlayerContext& operator=(const PlayerContext&) = delete;

    // --- What the windows link in (each defaults to the player's own) ---
    Composition* composition = nullptr;
    ChannelSettings* channelSettings = &ownChannelSettings_;
    PlayRange* playRange = &ownPlayRange_;
    std::atomic<int32_t>* restartRequest = &ownRestartRequest_;  // 1: go on from PlayRange 3
    // The main window's tempo (microseconds per quarter note) and time division.
    std::atomic<int32_t>* tempoCell = &ownTempo_;
    std::atomic<int32_t>* divisionCell = &ownDivision_;
    // The user's tempo divided by the composition's reference tempo; scales the file's tempo
    // events. Kept by the main window.
    std::atomic<double> tempoFactor{1.0};
    std::atomic<uint8_t> rangeSelector{range_selector::kRange};
    int device = kDefaultDevice;
    // The main window's play timer, switched on while the stream is fed. Called on the worker
    // with the player busy: pass it on to the window's thread, never call back into the player.
    std::function<void(bool enabled)> onPlayTimer;

    // Where outputs come from and the clock they run on (tests: a recording and a manual clock).
    void setOutputOpener(OutputOpener opener);
    void setClock(Clock& clock);
    Clock& clock() const { return *clock_; }

    // --- Playback on the worker thread ---
    // Creates the worker and starts it. `onTerminate` runs on the worker when it ends (the
    // windows pass it on to their own thread); errors go to `onError` with caption "Error".
    // False, doing nothing, while a worker plays.
    bool start(std::function<void()> onTerminate = {}, ErrorHandler onError = {});
    // The worker's existence is the playing state.
    bool isPlaying() const { return threadActive_.load(); }
    // Blocks until the worker has ended (not from the worker itself).
    void waitForEnd();
    // The worker's body: plays the selected range, its loop passes and restarts, until it has
    // played out or is stopped. Throws AppError; the finishing steps run in any case.
    void play();

    // --- Called from the windows while playing or not ---
    void stop();
    // The play position in ticks; 0 without an open stream.
    int64_t position();
    void setTempo(int32_t microsecondsPerQuarter);
    int32_t currentTempo();
    void setProgram(int program, int channel);
    void setVolume(int volume, int channel);
    void applyChannelSettings();
    // Without an open stream there is nobody to hear it: nothing is sent.
    void sendShortMessage(int status, int data1, int data2);
    // Sounds (0x91) or silences (0x81) the chord's notes in the accompaniment octave.
    void playChord(ChordCode chord, int status);
    // What a preview reads of the open document, copied where the document lives: a preview
    // playing on another thread must not read the channel table the instruments window writes.
    struct PreviewSetup {
        ChannelSettings channels;
        bool arrangementOnly = false;  // the composition plays exactly its arrangement part
    };
    PreviewSetup previewSetup() const;
    // Plays list 1 of `tracks` once and returns when it has played. Nothing while a worker plays.
    void playPreview(const NoteTracks& tracks, int32_t tempo, int32_t division,
                     std::array<uint8_t, 2> programs, const PreviewSetup& setup);
    // The same with the document as it is now, on the document's thread.
    void playPreview(const NoteTracks& tracks, int32_t tempo, int32_t division,
                     std::array<uint8_t, 2> programs) {
        playPreview(tracks, tempo, division, programs, previewSetup());
    }
    // Plays the organ, bass and drums lists of `tracks` once (an arrangement) with the organ
    // and bass programs, at the document's volumes; returns when it has played.
    void playArrangementPreview(const NoteTracks& tracks, int32_t tempo, int32_t division,
                                std::array<uint8_t, 2> organBassPrograms,
                                const PreviewSetup& setup);
    void openStream();
    bool isOpen() const;
    void closeStream();

    bool playTimerEnabled() const { return playTimer_.load(); }

  private:
    friend class TPlayerThread;

    struct Buffer {
        std::vector<uint32_t> words;
        StreamHeader header;
        uint32_t events = 0;  // not yet queued
    };

    int32_t rangeStart() const;
    int32_t rangeEnd() const;
    void openStream(std::shared_ptr<StreamEvent> notify);
    // Runs `call` on the open stream; false without one. Raises the stream's errors.
    template <typename Call>
    bool withStream(Call&& call);
    void check(int result);
    // Fills one buffer from the event table; answers whether more is to come.
    bool fillBuffer(Buffer& buffer);
    void setStreamTimeBase();
    void setPlayTimer(bool enabled);
    // Plays `lists` of `tracks` once; `sendSetup` sends the channels' volumes and programs first.
    void playPreviewLists(const NoteTracks& tracks, std::span<const int> lists, int32_t tempo,
                          int32_t division, const ChannelSettings& channels,
                          const std::function<void()>& sendSetup);
    void playRanges(std::unique_lock<std::mutex>& control);
    void finish();
    void threadEnded() { threadActive_ = false; }

    ChannelSettings ownChannelSettings_;
    PlayRange ownPlayRange_;
    std::atomic<int32_t> ownRestartRequest_{0};
    std::atomic<int32_t> ownTempo_{MidiStream::kDefaultTempo};
    std::atomic<int32_t> ownDivision_{MidiStream::kDefaultDivision};

    OutputOpener opener_;
    Clock* clock_;

    // Held by the worker except while it waits for a buffer, so that stop (which takes it)
    // finds the worker at a safe point: the safe form of suspending the thread.
    std::mutex controlMutex_;
    // Guards the stream handle; held only for single stream calls.
    mutable std::mutex streamMutex_;
    std::unique_ptr<MidiStream> stream_;

    std::atomic<int32_t> tempo_{MidiStream::kDefaultTempo};
    std::atomic<int32_t> division_{MidiStream::kDefaultDivision};
    std::atomic<int64_t> lastPosition_{0};
    std::atomic<bool> stopFlag_{false};
    std::atomic<bool> playTimer_{false};
    std::atomic<bool> threadActive_{false};
    std::unique_ptr<TPlayerThread> thread_;

    // The worker's state between steps.
    EventTable table_;
    std::array<Buffer, 2> buffers_;
    std::shared_ptr<StreamEvent> event_;
};

}  // namespace varimel
