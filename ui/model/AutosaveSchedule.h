// AutosaveSchedule: when the window writes the open document's recovery copy — a few seconds
// after a change, then no more often than the interval while changes go on — and the autosave
// settings (on or off, the interval) from the registry.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace varimel {
class Registry;
}

namespace varimel::model {

// Values under the window's "Settings" key; both may be missing (then the defaults hold).
inline constexpr std::string_view kAutoSaveValue = "AutoSave";
inline constexpr std::string_view kAutoSaveIntervalValue = "AutoSaveInterval";

struct AutosaveSettings {
    static constexpr std::int32_t kDefaultIntervalSeconds = 30;
    static constexpr std::int32_t kMaxIntervalSeconds = 3600;
    bool enabled = true;
    std::int32_t intervalSeconds = kDefaultIntervalSeconds;  // 1 .. kMaxIntervalSeconds
};
// Reads the settings from the "Settings" key of `registry`; a missing, wrong-typed or
// out-of-range value keeps its default, and nothing is reported.
AutosaveSettings readAutosaveSettings(Registry& registry);
// The same from the program's registry file.
AutosaveSettings readAutosaveSettings();

class AutosaveSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    using Millis = std::chrono::milliseconds;
    // How long the document must stay unchanged before the first write, at most the interval.
    static constexpr Millis kQuietDelay{3000};

    explicit AutosaveSchedule(AutosaveSettings settings = {});

    const AutosaveSettings& settings() const { return settings_; }
    void changed(Clock::time_point now);
    // The copy is being written from the document as it is now: changes from here on are
    // pending again.
    void writing();
    // The write ended; on failure the changes it held are pending again.
    void written(Clock::time_point now, bool succeeded);
    // Saved, closed or replaced: nothing is pending and the next change waits only the delay.
    void clear();
    bool pending() const { return pending_; }
    // How long until the copy is due; none while nothing is pending or autosave is off.
    std::optional<Millis> dueIn(Clock::time_point now) const;

  private:
    AutosaveSettings settings_;
    bool pending_ = false;
    bool inFlight_ = false;
    Clock::time_point firstChange_{};
    std::optional<Clock::time_point> lastWrite_;
    std::optional<Clock::time_point> inFlightFirstChange_;
};

}  // namespace varimel::model
