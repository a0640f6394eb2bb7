// RecentFiles: the recent-files list of the File menu, newest first, with its capacity and the
// flag that tells whether it must be written back at exit.
#pragma once

#include <string>
#include <vector>

namespace varimel::model {

class RecentFiles {
  public:
    explicit RecentFiles(int capacity = 4) : capacity_(capacity) {}

    // Start-up: names read from the settings, appended in their stored order. Not a change.
    void appendStored(const std::string& name);
    // An open, a recent-files pick or a save: the name goes to the top (or stays there when it
    // is the first already), and the list is cut back to its capacity. Names compare without
    // regard to case, so "SONG.MID" and "song.mid" are one entry.
    void add(const std::string& name);
    // A pick of item `index` of the menu: moves it to the top (index 0 changes nothing).
    void moveToTop(int index);

    const std::vector<std::string>& names() const { return names_; }
    int capacity() const { return capacity_; }
    void setCapacity(int capacity) { capacity_ = capacity; }
    bool changed() const { return changed_; }
    // The index of a name (case-insensitive), or -1.
    int indexOf(const std::string& name) const;

  private:
    void capToCapacity();

    std::vector<std::string> names_;
    int capacity_;
    bool changed_ = false;
};

}  // namespace varimel::model
