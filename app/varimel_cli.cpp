// varimel-cli: the engine without windows — read melodies and report what was found.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>

#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"

namespace {

using namespace varimel;

std::string channelList(uint16_t channels) {
    std::string text;
    for (int channel = 0; channel < 16; ++channel) {
        if (!(channels & (1u << channel))) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(channel);
    }
    return text.empty() ? "none" : text;
}

void printRow(const char* label, const std::string& value) {
    std::printf("%-22s %s\n", label, value.c_str());
}

// Loads a melody as the main window would and prints what was read.
int runInfo(const std::string& file) {
    ChordMaster master(file);
    const StatusCode result = master.loadMidi();
    const Composition* c = master.composition();

    printRow("File:", file);
    if (c) {
        int numerator = 4, denominator = 4;
        c->meterMap().meterOfBar(0, numerator, denominator);
        int sharpsFlats = 0, minor = 0;
        const KeyIndex signatureKey =
            c->eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        const bool hasSignature = c->findEvent(event_kind::kKeySignature, 0, false) != nullptr;
        const int32_t tempo = c->eventValue(event_kind::kTempo, 0);
        const NoteTracks& notes = c->noteTracks();

        printRow("Format:", std::to_string(c->fileFormat));
        printRow("Tracks:", std::to_string(c->trackCount));
        printRow("Division:", std::to_string(c->ticksPerQuarter) + " ticks per quarter note");
        printRow("Meter of bar 1:", std::to_string(numerator) + "/" + std::to_string(denominator) +
                                        (c->findEvent(event_kind::kTimeSignature, 0, false)
                                             ? ""
                                             : " (no time signature in the file)"));
        char tempoText[64];
        std::snprintf(tempoText, sizeof tempoText, "%d us per quarter note (%.1f BPM)", tempo,
                      60000000.0 / tempo);
        printRow("Tempo:", tempoText);
        printRow("Key signature:", hasSignature ? std::to_string(sharpsFlats) +
                                                      (sharpsFlats < 0 ? " flats" : " sharps") +
                                                      (minor ? ", minor (" : ", major (") +
                                                      std::string(keyName(signatureKey)) + ")"
                                                : "none");
        printRow("Melody channel:",
                 master.melodyChannel < 0
                     ? "not decided (notes on channels " + channelList(master.noteChannels()) + ")"
                     : std::to_string(master.melodyChannel));
        printRow("Bars:", std::to_string(c->barCount));
        printRow("Upbeat:", notes.cachedUpbeat() < 0
                                ? "not computed"
                                : std::to_string(notes.cachedUpbeat()) + " ticks");
        int32_t noteCount = 0;
        for (int list = 0; list < NoteTracks::kListCount; ++list) noteCount += notes.count(list);
        printRow("Notes:", std::to_string(noteCount));
        printRow("Accompaniment octave:", std::to_string(c->accompanimentOctave));
    }
    printRow("Status:", std::to_string(result) + " (" + statusMeaning(result) + ")");
    if (result == status::kUnreadableFile && !master.readerMessage().empty()) {
        std::string reason = master.readerMessage();
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        printRow("Reader:", reason);
    }
    return (result == status::kOk || result == status::kTooLittleMaterial) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Varimel on the command line: reads melodies and reports what it finds."};
    app.require_subcommand(1);

    std::string infoFile;
    CLI::App* info = app.add_subcommand("info", "Load a melody and print what was read");
    info->add_option("FILE", infoFile, "A Standard MIDI File")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (*info) return runInfo(infoFile);
    return 2;
}
