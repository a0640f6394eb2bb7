#include "engine/Status.h"

namespace varimel {

const char* statusMeaning(StatusCode code) {
    switch (code) {
        case status::kOk:
            return "success";
        case status::kOutOfMemory:
            return "out of memory during harmonisation";
        case status::kSeveralChannels:
            return "the melody is spread over several MIDI channels; choose one";
        case status::kNotMonophonic:
            return "the melody is not monophonic (several notes sound at once)";
        case status::kTooShort:
            return "the melody is shorter than 3 bars";
        case status::kTooLittleMaterial:
            return "too little material to recognise a key";
        case status::kTooLow:
            return "the melody lies too low (mostly below C4, MIDI note 48)";
        case status::kKeyNotRecognised:
            return "the key cannot be recognised";
        case status::kMajorOrRelativeMinor:
            return "the key is a major key or its relative minor; choose one";
        case status::kManyKeys:
            return "key found, but the melody touches many keys";
        case status::kUnreadableFile:
            return "the file cannot be read";
        default:
            return "unknown status";
    }
}

}  // namespace varimel
