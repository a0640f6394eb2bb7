// The playback commands: play a document through the player as the main window does, and render
// it to a WAV file.
#include "cli_play.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>

#include "cli_common.h"
#include "cli_harmonise.h"
#include "engine/Limits.h"
#include "engine/SafeWrite.h"
#include "engine/Status.h"

#if VARIMEL_HAVE_PLAYBACK
#include "playback/MidiOutputs.h"
#include "playback/MidiResult.h"
#include "playback/Tmplay.h"
#include "playback/WavRender.h"
#endif

namespace varimel::cli {

namespace {

constexpr long kMaxBars = limits::kMaxBars;

#if VARIMEL_HAVE_PLAYBACK

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    interrupted = true;
}

// The user's tempo in microseconds per quarter, and its ratio to the file's.
struct Tempo {
    int32_t microseconds = 500000;
    double factor = 1.0;
};

Tempo tempoFor(const Composition& composition, double bpm) {
    Tempo tempo;
    const int32_t original = composition.eventValue(event_kind::kTempo, 0);
    tempo.microseconds = bpm > 0 ? static_cast<int32_t>(60000000.0 / bpm) : original;
    tempo.factor = static_cast<double>(tempo.microseconds) / original;
    return tempo;
}

int32_t tickOfBarNumber(const Composition& composition, int bar) {
    return bar > 0 ? composition.meterMap().tickOfBar(bar - 1) : 0;
}

#endif

// Loads and harmonises a document as the harmonise command does, with its accompaniment
// rendered; a melody that could not be harmonised plays alone. Prints why not otherwise.
// The bars asked for against the piece's bars: a message naming the bar count, or "".
std::string rangeProblem(const PlayOptions& options, int32_t barCount) {
    const std::string bars = "the piece has " + std::to_string(barCount) + " bars";
    if (options.fromBar > barCount) {
        return "--from " + std::to_string(options.fromBar) + " is beyond the end: " + bars;
    }
    if (options.loopTo > 0) {
        if (options.loopFrom > options.loopTo) {
            return "--loop " + std::to_string(options.loopFrom) + " " +
                   std::to_string(options.loopTo) + " is reversed: give the first bar first";
        }
        if (options.loopTo > barCount) {
            return "--loop reaches bar " + std::to_string(options.loopTo) +
                   ", beyond the end: " + bars;
        }
    }
    return {};
}

// Bars outside the piece in `options` are refused with exit status 2.
std::optional<HarmoniseOutcome> openPlayable(const std::string& file,
                                             const HarmoniseRequest& request,
                                             const PlayOptions& options, int& exitCode) {
    HarmoniseOutcome outcome = harmoniseFile(file, request);
    reportProblems(outcome);
    exitCode = 1;
    if (!outcome.requestError.empty()) {
        std::cerr << "varimel-cli: " << outcome.requestError << '\n';
        exitCode = 2;
        return std::nullopt;
    }
    if (!outcome.master->composition() || !usable(outcome.loadStatus)) {
        std::cerr << "varimel-cli: " << statusReport(outcome) << '\n';
        return std::nullopt;
    }
    if (outcome.status != status::kOk && outcome.status != status::kManyKeys) {
        std::cerr << "varimel-cli: " << statusReport(outcome) << "; playing the melody alone\n";
    }
    if (const std::string problem = rangeProblem(options, outcome.master->composition()->barCount);
        !problem.empty()) {
        std::cerr << "varimel-cli: " << problem << '\n';
        exitCode = 2;
        return std::nullopt;
    }
    return outcome;
}

}  // namespace

#if VARIMEL_HAVE_PLAYBACK

int listOutputsCommand() {
    const std::vector<OutputDescription> outputs = listOutputs();
    if (outputs.empty()) {
        std::cout << "No MIDI outputs.\n";
        return 1;
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        std::cout << i << "  " << outputs[i].name << "  (" << outputs[i].kind
                  << (i == 0 ? ", the default" : "") << ")\n";
    }
    return 0;
}

int playComposition(Composition& composition, ChannelSettings& channels,
                    const PlayOptions& options) {
    PlayerContext player;
    if (!options.output.empty()) {
        player.device = findOutput(options.output);
        if (player.device < 0) {
            std::cerr << "varimel-cli: no MIDI output called \"" << options.output
                      << "\" (see --output list)\n";
            return 1;
        }
    }
    const Tempo tempo = tempoFor(composition, options.tempoBpm);
    composition.channelSettings = &channels;
    player.composition = &composition;
    player.channelSettings = &channels;
    player.divisionCell->store(composition.ticksPerQuarter);
    player.tempoCell->store(tempo.microseconds);
    player.tempoFactor = tempo.factor;
    player.playRange->set(PlayRange::kStart, tickOfBarNumber(composition, options.fromBar));
    if (options.loopFrom > 0 && options.loopTo >= options.loopFrom) {
        player.playRange->set(PlayRange::kLoopStart,
                              tickOfBarNumber(composition, options.loopFrom));
        player.playRange->set(PlayRange::kLoopEnd,
                              tickOfBarNumber(composition, options.loopTo + 1));
        player.rangeSelector = range_selector::kLoop;
    }

    std::atomic<bool> failed{false};
    interrupted = false;
    auto previous = std::signal(SIGINT, onInterrupt);
    try {
        player.start({}, [&](const std::string& caption, const std::string& text) {
            failed = true;
            std::cerr << "\n" << caption << ": " << text << '\n';
            const std::string details = lastOutputError();
            if (!details.empty()) std::cerr << "  (" << details << ")\n";
        });
    } catch (const AppError& e) {
        std::signal(SIGINT, previous);
        std::cerr << "Error: " << e.what() << '\n';
        return 1;
    }

    // The main window's play timer: its interval follows the tempo.
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    std::string shown;
    while (player.isPlaying()) {
        if (interrupted) player.stop();
        const int32_t current = player.currentTempo();
        const auto interval = std::chrono::milliseconds(std::max(current / 8000, 10));
        if (player.playTimerEnabled()) {
            const std::string text =
                positionText(composition.meterMap(), static_cast<int32_t>(player.position()));
            // On a terminal every tick of the timer; into a file, once per beat.
            if (terminal) {
                std::cout << '\r' << text << "  " << 60000000 / std::max(current, 1) << " BPM"
                          << std::flush;
            } else if (text.substr(0, 6) != shown.substr(0, std::min<size_t>(6, shown.size()))) {
                std::cout << text << '\n';
            }
            shown = text;
        }
        std::this_thread::sleep_for(interval);
    }
    player.waitForEnd();
    std::signal(SIGINT, previous);
    if (terminal) std::cout << '\n';
    if (interrupted) std::cout << "Stopped.\n";
    return failed ? 1 : 0;
}

int renderCompositionToWav(const Composition& composition, const ChannelSettings& channels,
                           const std::string& wavPath, const PlayOptions& options, bool quiet) {
    const Tempo tempo = tempoFor(composition, options.tempoBpm);
    WavRenderOptions render;
    render.rangeStart = tickOfBarNumber(composition, options.fromBar);
    render.tempo = tempo.microseconds;
    render.tempoFactor = tempo.factor;
    const auto started = std::chrono::steady_clock::now();
    const WavRenderResult result = renderToWav(composition, channels, render, wavPath);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!result.ok) {
        std::cerr << "varimel-cli: " << result.error << '\n';
        return 1;
    }
    if (quiet) return 0;
    // Standard output carries the file itself.
    std::FILE* report = wavPath == kStandardOutputName ? stderr : stdout;
    std::fprintf(report, "Wrote %s: %.1f s of 44.1 kHz stereo in %.2f s (%.0fx real time)\n",
                 wavPath.c_str(), result.seconds, took, took > 0 ? result.seconds / took : 0.0);
    return 0;
}

#else

int listOutputsCommand() {
    std::cerr << "varimel-cli: built without playback\n";
    return 1;
}
int playComposition(Composition&, ChannelSettings&, const PlayOptions&) {
    return listOutputsCommand();
}
int renderCompositionToWav(const Composition&, const ChannelSettings&, const std::string&,
                           const PlayOptions&, bool) {
    return listOutputsCommand();
}

#endif

void registerPlaybackCommands(CLI::App& app, int& exitCode) {
    static std::string playFile;
    static PlayOptions playOptions;
    static std::vector<int> loop;
    static HarmoniseFlags playFlags;
    CLI::App* play = app.add_subcommand(
        "play", "Harmonise and play a melody (or project) through a MIDI output; Ctrl-C stops");
    playFlags.addTo(play);
    play->add_option("FILE", playFile, "A Standard MIDI File or a .vml project");
    play->add_option("--from", playOptions.fromBar, "Start at this bar (counted from 1)")
        ->check(wholeNumberFrom("--from", 1, kMaxBars));
    play->add_option("--loop", loop, "Loop from bar FROM to the end of bar TO")
        ->expected(2)
        ->check(wholeNumberFrom("--loop", 1, kMaxBars));
    play->add_option("--tempo", playOptions.tempoBpm, "Tempo in beats per minute (8 to 255)")
        ->check(CLI::Range(8.0, 255.0));
    play->add_option("--output", playOptions.output,
                     "The output's name or part of it; \"list\" lists the outputs");
    play->callback([&exitCode] {
        if (playOptions.output == "list") {
            exitCode = listOutputsCommand();
            return;
        }
        if (playFile.empty()) throw CLI::RequiredError("FILE");
        if (loop.size() == 2) {
            playOptions.loopFrom = loop[0];
            playOptions.loopTo = loop[1];
        }
        auto outcome = openPlayable(playFile, playFlags.resolve(), playOptions, exitCode);
        if (!outcome) return;
        exitCode =
            playComposition(*outcome->master->composition(), outcome->channels(), playOptions);
    });

    static std::string renderFile;
    static std::string wavPath;
    static PlayOptions renderOptions;
    static HarmoniseFlags renderFlags;
    CLI::App* render = app.add_subcommand(
        "render", "Harmonise a melody (or project) and render it to a WAV file, offline");
    renderFlags.addTo(render);
    render->add_option("FILE", renderFile, "A Standard MIDI File or a .vml project")->required();
    render
        ->add_option("--wav", wavPath,
                     "The WAV file to write (44.1 kHz stereo; - for standard output)")
        ->required();
    render->add_option("--from", renderOptions.fromBar, "Start at this bar (counted from 1)")
        ->check(wholeNumberFrom("--from", 1, kMaxBars));
    render->add_option("--tempo", renderOptions.tempoBpm, "Tempo in beats per minute (8 to 255)")
        ->check(CLI::Range(8.0, 255.0));
    render->callback([&exitCode] {
        if (const int refused = refuseSameFiles({renderFile}, {wavPath})) {
            exitCode = refused;
            return;
        }
        auto outcome = openPlayable(renderFile, renderFlags.resolve(), renderOptions, exitCode);
        if (!outcome) return;
        exitCode = renderCompositionToWav(*outcome->master->composition(), outcome->channels(),
                                          wavPath, renderOptions);
    });
}

}  // namespace varimel::cli
