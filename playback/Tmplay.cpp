#include "playback/Tmplay.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/Tonality.h"
#include "playback/MidiOutputs.h"
#include "playback/MidiResult.h"
#include "playback/Tplaythread.h"

namespace varimel {

namespace {

constexpr int kVolumeController = 7;
constexpr int kChordVelocity = 100;

[[noreturn]] void raiseOutOfMemory() {
    errno = ENOMEM;
    raiseSystemError(false);
    throw std::bad_alloc();  // not reached
}

}  // namespace

PlayerContext::PlayerContext() : opener_(openOutput), clock_(&steadyClock()) {
    installMidiErrorTexts();
}

PlayerContext::~PlayerContext() {
    try {
        stop();
    } catch (...) {
        // Nothing to tell anyone any more; the output is closed below in any case.
    }
    waitForEnd();
    closeStream();
}

void PlayerContext::setOutputOpener(OutputOpener opener) {
    opener_ = std::move(opener);
}

void PlayerContext::setClock(Clock& clock) {
    clock_ = &clock;
}

// --- The stream ------------------------------------------------------------------------------

void PlayerContext::check(int result) {
    raiseMidiError(result);
}

template <typename Call>
bool PlayerContext::withStream(Call&& call) {
    int result = midi_result::kOk;
    {
        std::lock_guard lock(streamMutex_);
        if (!stream_) return false;
        result = call(*stream_);
    }
    check(result);
    return true;
}

void PlayerContext::openStream() {
    openStream(nullptr);
}

void PlayerContext::openStream(std::shared_ptr<StreamEvent> notify) {
    std::lock_guard lock(streamMutex_);
    if (stream_) return;
    std::unique_ptr<OutputPort> port;
    check(opener_ ? opener_(device, port) : midi_result::kNoDriver);
    check(MidiStream::open(std::move(port), *clock_, std::move(notify), stream_));
}

bool PlayerContext::isOpen() const {
    std::lock_guard lock(streamMutex_);
    return stream_ != nullptr;
}

void PlayerContext::closeStream() {
    std::lock_guard lock(streamMutex_);
    stream_.reset();
}

int32_t PlayerContext::rangeStart() const {
    return (*playRange)[rangeSelector.load() == range_selector::kLoop ? PlayRange::kLoopStart
                                                                      : PlayRange::kStart];
}

int32_t PlayerContext::rangeEnd() const {
    return (*playRange)[rangeSelector.load() == range_selector::kLoop ? PlayRange::kLoopEnd
                                                                      : PlayRange::kEnd];
}

// --- Single messages -------------------------------------------------------------------------

void PlayerContext::sendShortMessage(int status, int data1, int data2) {
    withStream([&](MidiStream& s) { return s.shortMessage(shortMessage(status, data1, data2)); });
}

void PlayerContext::setProgram(int program, int channel) {
    if (channel < 0 || channel >= ChannelSettings::kChannels) return;
    channelSettings->program[static_cast<size_t>(channel)] = static_cast<uint8_t>(program & 0x7F);
    sendShortMessage(event_kind::kProgramChange | channel, program, 0);
}

void PlayerContext::setVolume(int volume, int channel) {
    if (channel < 0 || channel >= ChannelSettings::kChannels) return;
    if (volume != 0) {
        channelSettings->volume[static_cast<size_t>(channel)] = static_cast<uint8_t>(volume & 0x7F);
    }
    sendShortMessage(event_kind::kController | channel, kVolumeController, volume);
}

void PlayerContext::applyChannelSettings() {
    ChannelSettings& channels = *channelSettings;
    channels.updateSoloMode();
    if (!isOpen()) return;
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        sendShortMessage(event_kind::kProgramChange | channel,
                         channels.program[static_cast<size_t>(channel)], 0);
    }
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        // A silenced channel keeps its stored volume for when it sounds again.
        const int volume =
            channels.silenced(channel) ? 0 : channels.volume[static_cast<size_t>(channel)];
        sendShortMessage(event_kind::kController | channel, kVolumeController, volume);
    }
}

void PlayerContext::setTempo(int32_t microsecondsPerQuarter) {
    tempoCell->store(microsecondsPerQuarter);
    tempo_ = microsecondsPerQuarter;
    withStream([&](MidiStream& s) { return s.setTempo(microsecondsPerQuarter); });
}

int32_t PlayerContext::currentTempo() {
    std::lock_guard lock(streamMutex_);
    if (!stream_) return tempo_;
    int32_t division = 0;
    int32_t tempo = 0;
    if (stream_->timeDivision(division) == midi_result::kOk) division_ = division;
    if (stream_->tempo(tempo) == midi_result::kOk) tempo_ = tempo;
    return tempo_;
}

int64_t PlayerContext::position() {
    std::lock_guard lock(streamMutex_);
    if (!stream_) return 0;
    const int32_t end = rangeEnd();
    if (lastPosition_.load() + division_.load() / 4 >= end) return end;
    int64_t ticks = 0;
    if (stream_->position(ticks) != midi_result::kOk) return lastPosition_;
    lastPosition_ = rangeStart() + ticks;
    return lastPosition_;
}

void PlayerContext::playChord(ChordCode chord, int status) {
    if (chord < 0) return;
    const bool wasOpen = isOpen();
    openStream();
    const int octave = composition ? composition->accompanimentOctave : -1;
    const ChordTones tones = chordTones(chordKey(chord), chordType(chord), octave * 12);
    if (!wasOpen) {
        sendShortMessage(event_kind::kProgramChange | 1, channelSettings->program[1], 0);
        sendShortMessage(event_kind::kController | 1, kVolumeController,
                         channelSettings->volume[1]);
    }
    for (const int note : tones) {
        // Before the melody is analysed there is no octave: nothing sensible to sound.
        if (note >= 0 && note <= 127) sendShortMessage(status, note, kChordVelocity);
    }
}

PlayerContext::PreviewSetup PlayerContext::previewSetup() const {
    return {*channelSettings,
            composition && composition->accompanimentParts == accompaniment_part::kArrangement};
}

void PlayerContext::playPreview(const NoteTracks& tracks, int32_t tempo, int32_t division,
                                std::array<uint8_t, 2> programs, const PreviewSetup& setup) {
    const ChannelSettings& channels = setup.channels;
    static constexpr int kStyleList[] = {1};
    playPreviewLists(tracks, kStyleList, tempo, division, channels, [&] {
        if (setup.arrangementOnly) {
            for (int channel : {3, 2, 9}) {
                sendShortMessage(event_kind::kController | channel, kVolumeController,
                                 channels.volume[static_cast<size_t>(channel)]);
            }
            sendShortMessage(event_kind::kProgramChange | 3, programs[0], 0);
            sendShortMessage(event_kind::kProgramChange | 2, programs[1], 0);
        } else {
            sendShortMessage(event_kind::kController | 1, kVolumeController, channels.volume[1]);
            sendShortMessage(event_kind::kProgramChange | 1, programs[0], 0);
        }
    });
}

void PlayerContext::playArrangementPreview(const NoteTracks& tracks, int32_t tempo,
                                           int32_t division,
                                           std::array<uint8_t, 2> organBassPrograms,
                                           const PreviewSetup& setup) {
    const ChannelSettings& channels = setup.channels;
    static constexpr int kArrangementLists[] = {2, 3, 9};
    playPreviewLists(tracks, kArrangementLists, tempo, division, channels, [&] {
        for (const int channel : kArrangementLists) {
            sendShortMessage(event_kind::kController | channel, kVolumeController,
                             channels.volume[static_cast<size_t>(channel)]);
        }
        sendShortMessage(event_kind::kProgramChange | 2, organBassPrograms[0], 0);
        sendShortMessage(event_kind::kProgramChange | 3, organBassPrograms[1], 0);
    });
}

void PlayerContext::playPreviewLists(const NoteTracks& tracks, std::span<const int> lists,
                                     int32_t tempo, int32_t division,
                                     const ChannelSettings& channels,
                                     const std::function<void()>& sendSetup) {
    if (isPlaying() || tempo <= 0 || division <= 0) return;
    const int64_t lengthMs =
        (int64_t{tempo} + int64_t{tempo} * tracks.melodyEndTick() / division) / 1000;

    openStream();
    EventTable preview;
    std::vector<uint32_t> words;
    StreamHeader header;
    try {
        preview.buildLists(tracks, lists);
        try {
            words.assign(std::max<size_t>(preview.size(), 1) * stream_event::kWordsPerEvent, 0);
        } catch (const std::bad_alloc&) {
            raiseOutOfMemory();
        }
        uint32_t used = 0;
        uint32_t events = 0;
        preview.fill(words, used, events, channels, 1.0);
        header.data = words.data();
        header.bufferWords = static_cast<uint32_t>(words.size());
        header.wordsRecorded = used;

        withStream([&](MidiStream& s) { return s.setTimeDivision(division); });
        withStream([&](MidiStream& s) { return s.setTempo(tempo); });
        sendSetup();
        withStream([&](MidiStream& s) { return s.prepareHeader(header); });
        withStream([&](MidiStream& s) { return s.out(header); });
        withStream([&](MidiStream& s) { return s.restart(); });
        clock_->sleepFor(lengthMs * 1'000'000);
        withStream([&](MidiStream& s) { return s.reset(); });
        withStream([&](MidiStream& s) { return s.unprepareHeader(header); });
    } catch (...) {
        // The buffer dies with this call: the stream must let go of it first.
        closeStream();
        throw;
    }
    closeStream();
}

// --- The worker ------------------------------------------------------------------------------

bool PlayerContext::start(std::function<void()> onTerminate, ErrorHandler onError) {
    if (threadActive_) return false;
    waitForEnd();
    thread_.reset();
    // Cleared here rather than on the worker, so that a stop that comes before the worker has
    // opened the stream is not lost.
    stopFlag_ = false;
    lastPosition_ = 0;
    try {
        thread_ =
            std::make_unique<TPlayerThread>(*this, std::move(onTerminate), std::move(onError));
        threadActive_ = true;
        thread_->resume();
    } catch (const std::system_error& e) {
        threadActive_ = false;
        thread_.reset();
        errno = e.code().value();
        raiseSystemError(false);
    }
    return true;
}

void PlayerContext::waitForEnd() {
    if (thread_ && !thread_->isCurrentThread()) thread_->waitFor();
}

void PlayerContext::stop() {
    // Taking the control mutex waits until the worker is at a safe point (its wait for a buffer),
    // and keeps it there until the stop is complete.
    std::lock_guard control(controlMutex_);
    if (threadActive_ || isOpen()) stopFlag_ = true;
    withStream([](MidiStream& s) { return s.reset(); });
}

void PlayerContext::setPlayTimer(bool enabled) {
    playTimer_ = enabled;
    if (onPlayTimer) onPlayTimer(enabled);
}

void PlayerContext::setStreamTimeBase() {
    withStream([&](MidiStream& s) { return s.setTimeDivision(division_); });
    withStream([&](MidiStream& s) { return s.setTempo(tempo_); });
}

bool PlayerContext::fillBuffer(Buffer& buffer) {
    if (buffer.words.size() != kStreamBufferWords) {
        try {
            buffer.words.assign(kStreamBufferWords, 0);
        } catch (const std::bad_alloc&) {
            raiseOutOfMemory();
        }
    }
    uint32_t used = 0;
    const int more =
        table_.fill(buffer.words, used, buffer.events, *channelSettings, tempoFactor.load());
    buffer.header.data = buffer.words.data();
    buffer.header.bufferWords = kStreamBufferWords;
    buffer.header.wordsRecorded = used;
    return more == 1;
}

void PlayerContext::play() {
    std::unique_lock control(controlMutex_);
    try {
        playRanges(control);
    } catch (...) {
        if (!control.owns_lock()) control.lock();
        finish();
        throw;
    }
    // A stopped play leaves the plain range selected, as a pause restarts it.
    if (stopFlag_) rangeSelector = range_selector::kRange;
    finish();
}

void PlayerContext::playRanges(std::unique_lock<std::mutex>& control) {
    division_ = divisionCell->load();
    tempo_ = tempoCell->load();
    if (!composition || stopFlag_) return;
    playRange->set(PlayRange::kEnd, composition->noteTracks().melodyEndTick());

    closeStream();
    event_ = std::make_shared<StreamEvent>();
    openStream(event_);
    event_->reset();

    setStreamTimeBase();
    applyChannelSettings();

    auto prepare = [&](Buffer& buffer) {
        withStream([&](MidiStream& s) { return s.prepareHeader(buffer.header); });
    };
    auto unprepare = [&](Buffer& buffer) {
        withStream([&](MidiStream& s) { return s.unprepareHeader(buffer.header); });
    };
    // Fills and prepares buffer A, and B when more is to come.
    auto fillBoth = [&]() {
        bool more = fillBuffer(buffers_[0]);
        prepare(buffers_[0]);
        buffers_[1].events = 0;
        if (more) {
            more = fillBuffer(buffers_[1]);
            prepare(buffers_[1]);
        }
        return more;
    };

    table_.build(*composition, rangeStart(), rangeEnd());
    bool more = fillBoth();
    lastPosition_ = 0;
    setPlayTimer(true);

    for (int k = 0;; ++k) {
        if (stopFlag_) break;
        Buffer& current = buffers_[static_cast<size_t>(k % 2)];
        Buffer& other = buffers_[static_cast<size_t>((k + 1) % 2)];
        withStream([&](MidiStream& s) { return s.out(current.header); });
        withStream([](MidiStream& s) { return s.restart(); });
        current.events = 0;
        if (k >= 1 && more) {
            unprepare(other);
            more = fillBuffer(other);
            prepare(other);
        }

        control.unlock();
        event_->wait();
        control.lock();

        if (stopFlag_) break;
        if (more || other.events > 0) continue;

        // The range has played out: a loop plays it again, a restart goes on after the loop.
        const bool restart = restartRequest->load() == 1;
        if (rangeSelector.load() == range_selector::kRange && !restart) return;
        // An empty loop would spin without ever sounding.
        if (!restart && rangeEnd() <= rangeStart()) return;
        setPlayTimer(false);
        lastPosition_ = 0;
        withStream([](MidiStream& s) { return s.reset(); });
        if (restart) {
            playRange->set(PlayRange::kStart, (*playRange)[PlayRange::kLoopEnd]);
            table_.build(*composition, rangeStart(), rangeEnd());
        } else {
            table_.rewind();
        }
        // Only the request that was acted on is cleared: one made since (the notes view may
        // delete the loop while this pass restarts) waits for the end of the next pass.
        if (restart) restartRequest->store(0);
        unprepare(buffers_[0]);
        if (!buffers_[1].words.empty()) unprepare(buffers_[1]);
        more = fillBoth();
        setStreamTimeBase();
        applyChannelSettings();
        setPlayTimer(true);
        k = -1;
    }
}

void PlayerContext::finish() {
    setPlayTimer(false);
    {
        std::lock_guard lock(streamMutex_);
        if (stream_) {
            stream_->reset();
            for (Buffer& buffer : buffers_) stream_->unprepareHeader(buffer.header);
        }
        stream_.reset();
    }
    for (Buffer& buffer : buffers_) {
        buffer.words.clear();
        buffer.words.shrink_to_fit();
        buffer.header.data = nullptr;
        buffer.header.bufferWords = 0;
        buffer.header.wordsRecorded = 0;
        buffer.events = 0;
    }
    table_.clear();
    event_.reset();
}

}  // namespace varimel
