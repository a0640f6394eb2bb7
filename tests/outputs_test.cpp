// The real outputs: the built-in synthesiser and ALSA sequencer ports. A machine without a sound
// device or sequencer skips what needs one and says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "playback/MidiOutputs.h"
#include "playback/MidiResult.h"
#include "playback/SoundFont.h"
#include "playback/Tmplay.h"
#include "settings/RegFile.h"
#include "settings/Tmyregistry.h"

#if VARIMEL_HAVE_RTMIDI
#include "playback/AlsaSeqPort.h"
#endif

namespace varimel {
namespace {

using namespace midi_result;

TEST(MidiOutputs, TheBuiltInSynthesiserComesFirstAndOutputsAreFoundByName) {
    const std::vector<OutputDescription> outputs = listOutputs();
#if VARIMEL_HAVE_FLUIDSYNTH
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs[0].name, kBuiltInSynthName);
    EXPECT_EQ(findOutput("fluidsynth"), 0) << "by part of the name, any case";
    EXPECT_EQ(findOutput(kBuiltInSynthName), 0);
#endif
    EXPECT_EQ(findOutput("no output is called like this"), -2);
    std::unique_ptr<OutputPort> port;
    EXPECT_EQ(
        openOutput(static_cast<int>(outputs.size()) + 5, port),
        outputs.empty() ? openOutput(static_cast<int>(outputs.size()) + 5, port) : kBadDevice);
    EXPECT_EQ(port, nullptr);
}

TEST(MidiOutputs, AMissingPreferredSoundFontIsPassedOver) {
    const std::string found = findSoundFont();
    if (found.empty()) GTEST_SKIP() << "no General MIDI sound font installed";
    EXPECT_EQ(findSoundFont("/no/such/font.sf2"), found) << "a missing file is passed over";
    EXPECT_EQ(findSoundFont(found), found);
}

TEST(MidiOutputs, TheSoundFontNamedInTheSettingsComesFirstWhenItExists) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "varimel_soundfont_test";
    fs::create_directories(folder);
    const fs::path font = folder / "mine.sf2";
    std::ofstream(font) << "RIFF";
    const fs::path registryPath = folder / "registry.reg";
    {
        RegistryFile registry(registryPath);
        ASSERT_TRUE(registry.openKey(programKey(kSettingsKey), true));
        registry.writeString(kSoundFontValueName, font.string());
    }
    const char* previous = std::getenv(kRegistryEnvVar);
    const std::string saved = previous ? previous : "";
    setenv(kRegistryEnvVar, registryPath.c_str(), 1);
    EXPECT_EQ(configuredSoundFont(), font.string());
    EXPECT_EQ(findSoundFont(), font.string());
    fs::remove(font);
    EXPECT_EQ(configuredSoundFont(), "") << "a settings value naming no file is passed over";
    if (previous) {
        setenv(kRegistryEnvVar, saved.c_str(), 1);
    } else {
        unsetenv(kRegistryEnvVar);
    }
    fs::remove_all(folder);
}

TEST(MidiOutputs, TheBuiltInSynthesiserPlaysThroughTheSoundDevice) {
#if !VARIMEL_HAVE_FLUIDSYNTH
    GTEST_SKIP() << "built without FluidSynth";
#else
    PlayerContext player;
    player.device = -1;
    try {
        player.openStream();
    } catch (const AppError& e) {
        GTEST_SKIP() << "no sound device for the built-in synthesiser here: " << e.what() << " ("
                     << lastOutputError() << ")";
    }
    EXPECT_TRUE(player.isOpen());
    EXPECT_NO_THROW(player.sendShortMessage(0x90, 69, 100));
    EXPECT_NO_THROW(player.sendShortMessage(0x80, 69, 0));
    player.closeStream();
#endif
}

TEST(MidiOutputs, SequencerPortsOpenByTheirNames) {
#if !VARIMEL_HAVE_RTMIDI
    GTEST_SKIP() << "built without RtMidi";
#else
    const std::vector<std::string> ports = alsaOutputPorts();
    if (ports.empty()) GTEST_SKIP() << "no ALSA sequencer (or no port) on this machine";
    std::unique_ptr<OutputPort> port;
    ASSERT_EQ(openAlsaPort(ports[0], port), kOk);
    port->send(shortMessage(0xB0, 7, 100), 0);
    port->silence();
    EXPECT_EQ(openAlsaPort(ports[0] + " (no such port)", port), kBadDevice);
    EXPECT_GE(findOutput(ports[0]), 0);
#endif
}

}  // namespace
}  // namespace varimel
