#include "ui/model/RecentFiles.h"

#include <algorithm>
#include <cctype>

namespace varimel::model {

namespace {

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

int RecentFiles::indexOf(const std::string& name) const {
    for (size_t i = 0; i < names_.size(); ++i) {
        if (sameNameIgnoringCase(names_[i], name)) return static_cast<int>(i);
    }
    return -1;
}

void RecentFiles::appendStored(const std::string& name) {
    if (indexOf(name) >= 0) return;
    names_.push_back(name);
}

void RecentFiles::add(const std::string& name) {
    const int found = indexOf(name);
    if (found == 0) return;
    if (found > 0) {
        moveToTop(found);
    } else {
        names_.insert(names_.begin(), name);
        changed_ = true;
    }
    capToCapacity();
}

void RecentFiles::moveToTop(int index) {
    if (index <= 0 || index >= static_cast<int>(names_.size())) return;
    std::rotate(names_.begin(), names_.begin() + index, names_.begin() + index + 1);
    changed_ = true;
}

void RecentFiles::capToCapacity() {
    const size_t capacity = static_cast<size_t>(std::max(capacity_, 0));
    if (names_.size() > capacity) {
        names_.resize(capacity);
        changed_ = true;
    }
}

}  // namespace varimel::model
