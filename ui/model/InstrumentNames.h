// InstrumentNames: the entries of the instrument lists — the names read from "gmi.txt" in
// General MIDI program order, then "1".."128" when the file names fewer than 128 programs — and
// the mapping between an entry and the program it stands for.
#pragma once

#include <string>
#include <vector>

namespace varimel::model {

class InstrumentNames {
  public:
    static constexpr int kProgramCount = 128;

    // Reads at most 128 lines, dropping a trailing carriage return from each. False, with the
    // system's reason, when the file cannot be opened; the entries are then left unchanged.
    bool load(const std::string& path, std::string& error);
    void setNames(std::vector<std::string> names);

    const std::vector<std::string>& entries() const { return entries_; }
    int nameCount() const { return nameCount_; }
    int entryCount() const { return static_cast<int>(entries_.size()); }

    // The program an entry stands for: the entry's own index for a name, the caption's number
    // minus one for the numbered entries after the names; -1 outside the list.
    int programOfEntry(int entry) const;
    // The entry that shows a program: its name when the file named it, else its number.
    int entryOfProgram(int program) const;
    // The caption for a program ("" outside 0..127).
    std::string programName(int program) const;

  private:
    std::vector<std::string> entries_;
    int nameCount_ = 0;
};

}  // namespace varimel::model
