// Tips: the tips file, one tip per line, and the choice of the tip shown next.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/model/Random.h"

namespace varimel::model {

class TipsList {
  public:
    // Reads every line (a trailing carriage return is dropped); false when there is no file,
    // which leaves the list absent.
    bool load(const std::string& path);
    bool loaded() const { return lines_.has_value(); }
    const std::vector<std::string>& lines() const;
    // A tip is shown at once only with more than two lines.
    bool showsTipOnLoad() const { return loaded() && lines_->size() > 2; }
    // Three blanks and a line picked as r mod n; empty without lines. Tips may repeat.
    std::string nextTip(RandomSource& random) const;

  private:
    std::optional<std::vector<std::string>> lines_;
};

}  // namespace varimel::model
