// Playback timing: how late the scheduler delivers events when a piece plays in real time into
// the recording port, how long a stop takes to silence the output, and how much faster than real
// time a piece renders to WAV.
//
//   build/bench/playback_bench                      (the timing run takes the piece's 2 minutes)
//   VARIMEL_BENCH_PLAY_SECONDS=20 build/bench/playback_bench   (a shorter piece)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "engine/Apperr.h"
#include "playback/RecordingPort.h"
#include "playback/Tmplay.h"
#include "playback/WavRender.h"

namespace {

using namespace varimel;

constexpr int kQuarter = 480;
constexpr int kTempo = 500000;  // 120 BPM: a beat every half second

int pieceSeconds() {
    const char* text = std::getenv("VARIMEL_BENCH_PLAY_SECONDS");
    const int seconds = text ? std::atoi(text) : 120;
    return std::max(seconds, 2);
}

// A band at 120 BPM: a melody in eighths, a three-note chord on every beat and a drum on every
// eighth — about 28 events a second, so the buffers alternate many times in two minutes.
std::unique_ptr<Composition> makePiece(int seconds) {
    auto c = std::make_unique<Composition>();
    c->meterMap().setTicksPerQuarter(kQuarter);
    c->meterMap().addSegment(0, 4, 4);
    c->conductorEvents.append({event_kind::kTempo, kTempo, 0, {}});
    c->accompanimentParts = accompaniment_part::kBlockChords;
    NoteTracks& notes = c->noteTracks();
    const int beats = seconds * 2;
    auto add = [&](int list, int key, int tick, int duration) {
        notes.addNote(static_cast<uint8_t>(key), static_cast<uint8_t>(list), 0x6440,
                      c->meterMap().positionOfTick(tick), static_cast<uint16_t>(duration),
                      static_cast<uint8_t>(key % 12));
        notes.raiseEndTick(tick + duration);
    };
    for (int beat = 0; beat < beats; ++beat) {
        const int tick = beat * kQuarter;
        for (int half = 0; half < 2; ++half) {
            add(0, 67 + (beat * 2 + half) % 8, tick + half * kQuarter / 2, kQuarter / 2 - 20);
            add(9, half ? 42 : 36, tick + half * kQuarter / 2, 60);
        }
        for (int tone : {48, 52, 55}) add(1, tone, tick, kQuarter - 30);
    }
    return c;
}

struct RecordingPlayer {
    explicit RecordingPlayer(Composition& composition)
        : recording(std::make_shared<Recording>(1 << 20)) {
        player.setOutputOpener([this](int, std::unique_ptr<OutputPort>& port) {
            port = std::make_unique<RecordingPort>(recording, steadyClock());
            return 0;
        });
        player.composition = &composition;
        player.divisionCell->store(kQuarter);
        player.tempoCell->store(kTempo);
    }
    std::shared_ptr<Recording> recording;
    PlayerContext player;
};

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void BM_TimingLateness(benchmark::State& state) {
    const auto piece = makePiece(pieceSeconds());
    std::vector<double> lateness;
    for (auto _ : state) {
        RecordingPlayer run(*piece);
        run.player.start();
        run.player.waitForEnd();
        for (const RecordedMessage& m : run.recording->messages()) {
            const int status = m.message & 0xF0;
            if (!m.silence && (status == 0x80 || status == 0x90)) {
                lateness.push_back(static_cast<double>(m.sent - m.due) / 1000.0);
            }
        }
    }
    state.counters["events"] = static_cast<double>(lateness.size());
    state.counters["median_us"] = percentile(lateness, 0.5);
    state.counters["p99_us"] = percentile(lateness, 0.99);
    state.counters["max_us"] = percentile(lateness, 1.0);
}
BENCHMARK(BM_TimingLateness)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_StopLatency(benchmark::State& state) {
    const auto piece = makePiece(30);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> waitMs(30, 400);
    std::vector<double> toSilence;
    std::vector<double> toEnd;
    for (auto _ : state) {
        RecordingPlayer run(*piece);
        run.player.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs(random)));
        const ClockTime stopped = steadyClock().now();
        run.player.stop();
        run.player.waitForEnd();
        const ClockTime ended = steadyClock().now();
        for (const RecordedMessage& m : run.recording->messages()) {
            if (m.silence && m.sent >= stopped) {
                toSilence.push_back(static_cast<double>(m.sent - stopped) / 1000.0);
                break;
            }
        }
        toEnd.push_back(static_cast<double>(ended - stopped) / 1000.0);
    }
    state.counters["silence_median_us"] = percentile(toSilence, 0.5);
    state.counters["silence_max_us"] = percentile(toSilence, 1.0);
    state.counters["worker_end_max_us"] = percentile(toEnd, 1.0);
}
BENCHMARK(BM_StopLatency)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WavRenderSpeed(benchmark::State& state) {
    if (!canRenderWav()) {
        state.SkipWithError("built without FluidSynth");
        return;
    }
    const auto piece = makePiece(120);
    const auto path = std::filesystem::temp_directory_path() / "varimel_bench_render.wav";
    double audioSeconds = 0;
    double elapsed = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        const WavRenderResult result = renderToWav(*piece, ChannelSettings{}, {}, path);
        elapsed +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
        audioSeconds += result.seconds;
    }
    std::filesystem::remove(path);
    state.counters["audio_s"] = audioSeconds / static_cast<double>(state.iterations());
    state.counters["x_real_time"] = elapsed > 0 ? audioSeconds / elapsed : 0;
}
BENCHMARK(BM_WavRenderSpeed)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
