// RandomSource: the pseudo-random numbers of the window layer ("Next Tip"), behind an interface
// so that tests choose the sequence.
#pragma once

#include <cstdint>
#include <random>

namespace varimel::model {

class RandomSource {
  public:
    virtual ~RandomSource() = default;
    // A non-negative number.
    virtual std::uint32_t next() = 0;
};

// The same seed gives the same sequence on every platform (std::mt19937 is fully specified).
class SeededRandom final : public RandomSource {
  public:
    explicit SeededRandom(std::uint32_t seed = std::random_device{}()) : engine_(seed) {}
    std::uint32_t next() override { return static_cast<std::uint32_t>(engine_()); }

  private:
    std::mt19937 engine_;
};

}  // namespace varimel::model
