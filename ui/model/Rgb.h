// Rgb: a colour as the forms' tables give it, red, green and blue from 0 to 255, so that rules
// without Qt can say which colour a control takes.
#pragma once

#include <cstdint>

namespace varimel::model {

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    friend bool operator==(const Rgb&, const Rgb&) = default;
};

}  // namespace varimel::model
