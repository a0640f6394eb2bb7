#include "ui/model/Tips.h"

#include <fstream>

namespace varimel::model {

bool TipsList::load(const std::string& path) {
    lines_.reset();
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    lines_ = std::move(lines);
    return true;
}

const std::vector<std::string>& TipsList::lines() const {
    static const std::vector<std::string> none;
    return lines_ ? *lines_ : none;
}

std::string TipsList::nextTip(RandomSource& random) const {
    if (!lines_ || lines_->empty()) return {};
    return "   " + (*lines_)[random.next() % lines_->size()];
}

}  // namespace varimel::model
