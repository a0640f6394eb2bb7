#include "support/smf_bytes.h"

namespace varimel::test::smf {

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes varLen(std::uint32_t value) {
    Bytes reversed{static_cast<std::uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) reversed.push_back(static_cast<std::uint8_t>((value & 0x7F) | 0x80));
    return Bytes(reversed.rbegin(), reversed.rend());
}

Bytes be16(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes be32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes chunk(std::string_view id, const Bytes& body) {
    return cat({ascii(id), be32(static_cast<std::uint32_t>(body.size())), body});
}

Bytes headerChunk(int format, int trackCount, int division) {
    return chunk("MThd", cat({be16(static_cast<std::uint32_t>(format)),
                              be16(static_cast<std::uint32_t>(trackCount)),
                              be16(static_cast<std::uint32_t>(division))}));
}

Bytes trackChunk(const Bytes& events) {
    return chunk("MTrk", events);
}

Bytes file(int format, int division, std::initializer_list<Bytes> trackBodies) {
    Bytes all = headerChunk(format, static_cast<int>(trackBodies.size()), division);
    for (const Bytes& body : trackBodies) {
        const Bytes track = trackChunk(body);
        all.insert(all.end(), track.begin(), track.end());
    }
    return all;
}

Bytes event(std::uint32_t delta, std::initializer_list<int> bytes) {
    Bytes all = varLen(delta);
    for (int byte : bytes) all.push_back(static_cast<std::uint8_t>(byte));
    return all;
}

Bytes noteOn(std::uint32_t delta, int ch, int key, int velocity) {
    return event(delta, {0x90 | ch, key, velocity});
}

Bytes noteOff(std::uint32_t delta, int ch, int key, int velocity) {
    return event(delta, {0x80 | ch, key, velocity});
}

Bytes controller(std::uint32_t delta, int ch, int number, int value) {
    return event(delta, {0xB0 | ch, number, value});
}

Bytes meta(std::uint32_t delta, int type, const Bytes& data) {
    return cat({varLen(delta),
                {0xFF, static_cast<std::uint8_t>(type)},
                varLen(static_cast<std::uint32_t>(data.size())),
                data});
}

Bytes text(std::uint32_t delta, int type, std::string_view text) {
    return meta(delta, type, ascii(text));
}

Bytes tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter) {
    return meta(delta, 0x51,
                {static_cast<std::uint8_t>(microsecondsPerQuarter >> 16),
                 static_cast<std::uint8_t>(microsecondsPerQuarter >> 8),
                 static_cast<std::uint8_t>(microsecondsPerQuarter)});
}

Bytes endOfTrack(std::uint32_t delta) {
    return meta(delta, 0x2F, {});
}

Bytes sysex(std::uint32_t delta, const Bytes& data) {
    return cat({varLen(delta), {0xF0}, varLen(static_cast<std::uint32_t>(data.size())), data});
}

}  // namespace varimel::test::smf
