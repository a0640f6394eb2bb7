#include "ui/model/InstrumentNames.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace varimel::model {

bool InstrumentNames::load(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    std::string line;
    while (static_cast<int>(names.size()) < kProgramCount && std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        names.push_back(line);
    }
    setNames(std::move(names));
    return true;
}

void InstrumentNames::setNames(std::vector<std::string> names) {
    if (static_cast<int>(names.size()) > kProgramCount) names.resize(kProgramCount);
    nameCount_ = static_cast<int>(names.size());
    entries_ = std::move(names);
    if (nameCount_ < kProgramCount)
        for (int number = 1; number <= kProgramCount; ++number)
            entries_.push_back(std::to_string(number));
}

int InstrumentNames::programOfEntry(int entry) const {
    if (entry < 0 || entry >= entryCount()) return -1;
    return entry < nameCount_ ? entry : entry - nameCount_;
}

int InstrumentNames::entryOfProgram(int program) const {
    if (program < 0 || program >= kProgramCount) return -1;
    return program < nameCount_ ? program : nameCount_ + program;
}

std::string InstrumentNames::programName(int program) const {
    const int entry = entryOfProgram(program);
    return entry < 0 ? std::string() : entries_[static_cast<std::size_t>(entry)];
}

}  // namespace varimel::model
