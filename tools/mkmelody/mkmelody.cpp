// mkmelody: turns a melody text file into a Standard MIDI File.
//   mkmelody IN.mel OUT.mid
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "melodytext/melodytext.h"

namespace {

bool readWhole(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

bool writeWhole(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: mkmelody IN.mel OUT.mid\n";
        return 2;
    }
    std::string text;
    if (!readWhole(argv[1], text)) {
        std::cerr << argv[1] << ": cannot read\n";
        return 1;
    }
    const varimel::melodytext::ParseResult parsed = varimel::melodytext::parse(text);
    if (!parsed.ok()) {
        // file:line: message, the form editors and build logs link to.
        for (const auto& error : parsed.errors)
            std::cerr << argv[1] << ':' << error.line << ": " << error.message << '\n';
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = varimel::melodytext::encodeSmf(parsed.melody);
    } catch (const std::invalid_argument& e) {
        std::cerr << argv[1] << ": " << e.what() << '\n';
        return 1;
    }
    if (!writeWhole(argv[2], bytes)) {
        std::cerr << argv[2] << ": cannot write\n";
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
