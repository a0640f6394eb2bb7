// The pick-up of an ABC tune: its converter starts the first note on the first bar line, so a
// tune that begins before the bar line is padded with a rest that fills the first bar.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <optional>
#include <sstream>
#include <vector>

#include "leadsheet/MelodyFiles.h"

namespace varimel {

namespace {

struct Fraction {
    long n = 0;
    long d = 1;
};

Fraction add(Fraction a, Fraction b) {
    Fraction r{a.n * b.d + b.n * a.d, a.d * b.d};
    const long g = std::gcd(r.n, r.d);
    return g ? Fraction{r.n / g, r.d / g} : r;
}

// "3/4", "C" (4/4), "C|" (2/2); none for a free meter or anything else.
std::optional<Fraction> meterOf(std::string value) {
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    if (value == "C") return Fraction{4, 4};
    if (value == "C|") return Fraction{2, 2};
    long n = 0, d = 0;
    char slash = 0;
    std::istringstream in(value);
    if (in >> n >> slash >> d && slash == '/' && n > 0 && n < 64 && d > 0 && d <= 64)
        return Fraction{n, d};
    return std::nullopt;
}

// The length of the notes before the first bar line, in units of the default note length;
// none when they hold anything but plain notes and rests.
std::optional<Fraction> prefixLength(const std::string& line, size_t& firstNote) {
    Fraction total{0, 1};
    firstNote = std::string::npos;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '|' || c == ':' || (c == '[' && i + 1 < line.size() && line[i + 1] == '|'))
            return total;
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '"') {  // a chord symbol or annotation
            const size_t close = line.find('"', i + 1);
            if (close == std::string::npos) return std::nullopt;
            i = close + 1;
            continue;
        }
        if (c == '!' || c == '+') {  // a decoration
            const size_t close = line.find(c, i + 1);
            if (close == std::string::npos) return std::nullopt;
            i = close + 1;
            continue;
        }
        const size_t start = i;
        while (i < line.size() && (line[i] == '^' || line[i] == '_' || line[i] == '=')) ++i;
        if (i >= line.size() || !std::strchr("ABCDEFGabcdefgzx", line[i])) return std::nullopt;
        if (firstNote == std::string::npos) firstNote = start;
        ++i;
        while (i < line.size() && (line[i] == '\'' || line[i] == ',')) ++i;
        long n = 0, d = 1;
        while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
            n = n * 10 + (line[i++] - '0');
        if (n == 0) n = 1;
        while (i < line.size() && line[i] == '/') {
            ++i;
            long divisor = 0;
            while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
                divisor = divisor * 10 + (line[i++] - '0');
            d *= divisor ? divisor : 2;
            if (d > 1024 || n > 1024) return std::nullopt;
        }
        total = add(total, {n, d});
    }
    return std::nullopt;  // no bar line on the first line: nothing to go by
}

}  // namespace

std::string padAbcPickUp(const std::string& text, int tune) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    bool inTune = false, inBody = false;
    std::optional<Fraction> meter;
    std::optional<Fraction> unit;
    for (size_t index = 0; index < lines.size(); ++index) {
        std::string& line = lines[index];
        const bool field =
            line.size() >= 2 && std::isalpha(static_cast<unsigned char>(line[0])) && line[1] == ':';
        if (field && line[0] == 'X') {
            if (inTune) break;
            inTune = std::atoi(line.c_str() + 2) == tune;
            continue;
        }
        if (!inTune) continue;
        if (field && line[0] == 'M') meter = meterOf(line.substr(2));
        if (field && line[0] == 'L') {
            const auto value = meterOf(line.substr(2));
            if (value) unit = value;
        }
        if (field && line[0] == 'K') {
            inBody = true;
            continue;
        }
        if (!inBody || field || line.empty() || line[0] == '%') continue;
        // The first line of music.
        if (!meter) return text;
        const Fraction unitLength = unit                          ? *unit
                                    : meter->n * 4 < meter->d * 3 ? Fraction{1, 16}
                                                                  : Fraction{1, 8};
        size_t firstNote = 0;
        const std::optional<Fraction> pickUp = prefixLength(line, firstNote);
        if (!pickUp || pickUp->n == 0 || firstNote == std::string::npos) return text;
        // The bar in units: meter / unit.
        const Fraction bar{meter->n * unitLength.d, meter->d * unitLength.n};
        const Fraction rest = add(bar, {-pickUp->n, pickUp->d});
        if (rest.n <= 0) return text;
        line.insert(firstNote, "z" + std::to_string(rest.n) + "/" + std::to_string(rest.d) + " ");
        std::string out;
        for (const std::string& l : lines) out += l + "\n";
        return out;
    }
    return text;
}

}  // namespace varimel
