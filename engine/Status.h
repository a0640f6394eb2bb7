// StatusCode: the integer results of loading, analysing and harmonising a melody.
#pragma once

#include <cstdint>

namespace varimel {

using StatusCode = int32_t;

namespace status {
inline constexpr StatusCode kOk = 0;
inline constexpr StatusCode kOutOfMemory = 1;
inline constexpr StatusCode kSeveralChannels = 89;
inline constexpr StatusCode kNotMonophonic = 90;
inline constexpr StatusCode kTooShort = 91;
inline constexpr StatusCode kTooLittleMaterial = 92;
inline constexpr StatusCode kTooLow = 93;
inline constexpr StatusCode kKeyNotRecognised = 95;
inline constexpr StatusCode kMajorOrRelativeMinor = 96;
inline constexpr StatusCode kManyKeys = 97;
inline constexpr StatusCode kUnreadableFile = 101;
}  // namespace status

// A one-line description of a status for logs and the command line (the main window shows
// the longer texts of the message table).
const char* statusMeaning(StatusCode code);

}  // namespace varimel
