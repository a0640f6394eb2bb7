#include "ui/model/AutosaveSchedule.h"

#include <algorithm>

#include "settings/RegFile.h"
#include "settings/Registry.h"
#include "settings/Tmyregistry.h"

namespace varimel::model {

AutosaveSettings readAutosaveSettings(Registry& registry) {
    AutosaveSettings settings;
    try {
        registry.setRootKey(RegistryRoot::LocalMachine);
        if (!registry.openKey(programKey(kSettingsKey), false)) return settings;
        if (registry.valueExists(kAutoSaveValue))
            settings.enabled = registry.readBool(kAutoSaveValue);
        if (registry.valueExists(kAutoSaveIntervalValue)) {
            const std::int32_t seconds = registry.readInteger(kAutoSaveIntervalValue);
            if (seconds >= 1 && seconds <= AutosaveSettings::kMaxIntervalSeconds)
                settings.intervalSeconds = seconds;
        }
    } catch (const RegistryError&) {
        // A hidden setting never troubles the user: what was read stands, the rest keep defaults.
    }
    registry.closeKey();
    return settings;
}

AutosaveSettings readAutosaveSettings() {
    RegistryFile registry(registryFilePath());
    return readAutosaveSettings(registry);
}

AutosaveSchedule::AutosaveSchedule(AutosaveSettings settings) : settings_(settings) {}

void AutosaveSchedule::changed(Clock::time_point now) {
    if (pending_) return;
    pending_ = true;
    firstChange_ = now;
}

void AutosaveSchedule::writing() {
    inFlight_ = true;
    inFlightFirstChange_ = pending_ ? std::optional(firstChange_) : std::nullopt;
    pending_ = false;
}

void AutosaveSchedule::written(Clock::time_point now, bool succeeded) {
    if (!inFlight_) return;
    inFlight_ = false;
    lastWrite_ = now;
    if (!succeeded && inFlightFirstChange_) {
        // Retried no sooner than the interval, so a full disk is not hammered.
        if (!pending_ || *inFlightFirstChange_ < firstChange_) firstChange_ = *inFlightFirstChange_;
        pending_ = true;
    }
    inFlightFirstChange_.reset();
}

void AutosaveSchedule::clear() {
    pending_ = false;
    inFlight_ = false;
    inFlightFirstChange_.reset();
    lastWrite_.reset();
}

std::optional<AutosaveSchedule::Millis> AutosaveSchedule::dueIn(Clock::time_point now) const {
    if (!settings_.enabled || !pending_ || inFlight_) return std::nullopt;
    const Millis interval = std::chrono::seconds(settings_.intervalSeconds);
    Clock::time_point due = firstChange_ + std::min(kQuietDelay, interval);
    if (lastWrite_) due = std::max(due, *lastWrite_ + interval);
    return std::max(Millis(0), std::chrono::duration_cast<Millis>(due - now));
}

}  // namespace varimel::model
