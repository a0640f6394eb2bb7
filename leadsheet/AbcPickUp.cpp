// The opening of an ABC tune: its converter starts the first note on a bar line, so the length
// of the notes before the first bar line (a pick-up) is reckoned here from the text, with the
// note lengths, tuplets, broken rhythms and chords the ABC standard gives them.
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

constexpr long kLargestDenominator = 1L << 20;

AbcLength reduced(long n, long d) {
    const long g = std::gcd(n, d);
    return g ? AbcLength{n / g, d / g} : AbcLength{n, d};
}
AbcLength operator+(AbcLength a, AbcLength b) {
    return reduced(a.n * b.d + b.n * a.d, a.d * b.d);
}
AbcLength operator*(AbcLength a, AbcLength b) {
    return reduced(a.n * b.n, a.d * b.d);
}
bool sane(AbcLength a) {
    return a.d > 0 && a.d <= kLargestDenominator && a.n >= 0 && a.n <= kLargestDenominator;
}

std::string trimmed(std::string value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\t'))
        value.pop_back();
    return value;
}

// "3/4", "C" (4/4), "C|" (2/2); none for a free meter or anything else.
std::optional<AbcLength> fractionOf(const std::string& field) {
    const std::string value = trimmed(field);
    if (value == "C") return AbcLength{4, 4};
    if (value == "C|") return AbcLength{2, 2};
    long n = 0, d = 0;
    char slash = 0;
    std::istringstream in(value);
    if (in >> n >> slash >> d && slash == '/' && n > 0 && n < 64 && d > 0 && d <= 64)
        return AbcLength{n, d};
    return std::nullopt;
}

// The standard's default unit: a sixteenth below 3/4, else an eighth.
AbcLength defaultUnit(const std::optional<AbcLength>& meter) {
    return meter && meter->n * 4 < meter->d * 3 ? AbcLength{1, 16} : AbcLength{1, 8};
}

class OpeningScanner {
  public:
    OpeningScanner(std::optional<AbcLength> meter, std::optional<AbcLength> unit)
        : meter_(meter), unit_(unit ? *unit : defaultUnit(meter)) {}

    // Scans one line of the body; true when the first bar line was reached (or the line
    // cannot be read: then `failed`).
    bool line(const std::string& text) {
        if (text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) &&
            text[1] == ':') {
            field(text[0], text.substr(2));
            return false;
        }
        i_ = 0;
        text_ = &text;
        while (i_ < text.size()) {
            const char c = text[i_];
            if (c == '%') return false;
            if (std::strchr(" \t\r`\\y)-.~HLMOPSTuv", c)) {
                ++i_;
            } else if (c == '"' || c == '!' || c == '+' || c == '{') {
                const size_t close = text.find(c == '{' ? '}' : c, i_ + 1);
                if (close == std::string::npos) return fail();
                i_ = close + 1;
            } else if (c == '|' || c == ':') {
                // A bar line before any note (a tune that opens with |:) is not the first bar's.
                if (notes_ > 0) return true;
                ++i_;
            } else if (c == '[') {
                if (!bracket()) return true;
            } else if (c == '(') {
                ++i_;
                if (i_ < text.size() && std::isdigit(static_cast<unsigned char>(text[i_])) &&
                    !tuplet())
                    return fail();
            } else if (c == '>' || c == '<') {
                if (!broken()) return fail();
            } else {
                const std::optional<AbcLength> length = note();
                if (!length) return fail();
                add(*length);
            }
            if (failed) return true;
        }
        return false;
    }

    std::optional<AbcLength> meter_;
    AbcLength unit_;
    AbcLength total{0, 1};
    bool failed = false;

  private:
    bool fail() {
        failed = true;
        return true;
    }

    void field(char name, const std::string& value) {
        if (name == 'M') {
            meter_ = fractionOf(value);
        } else if (name == 'L') {
            if (const auto unit = fractionOf(value)) unit_ = *unit;
        }
    }

    // An inline field, a chord, or a bar line ("[|", "[1"); false at a bar line.
    bool bracket() {
        const std::string& text = *text_;
        const size_t next = i_ + 1;
        if (next < text.size() &&
            (text[next] == '|' || std::isdigit(static_cast<unsigned char>(text[next])))) {
            if (notes_ > 0) return false;
            i_ = next + 1;
            return true;
        }
        if (next + 1 < text.size() && std::isalpha(static_cast<unsigned char>(text[next])) &&
            text[next + 1] == ':') {
            const size_t close = text.find(']', next);
            if (close == std::string::npos) return !fail();
            field(text[next], text.substr(next + 2, close - next - 2));
            i_ = close + 1;
            return true;
        }
        // A chord lasts as long as its first note, times the length after the bracket.
        ++i_;
        std::optional<AbcLength> first;
        while (i_ < text.size() && text[i_] != ']') {
            if (std::strchr(" \t-.~", text[i_])) {
                ++i_;
                continue;
            }
            const std::optional<AbcLength> length = note();
            if (!length) return !fail();
            if (!first) first = length;
        }
        if (i_ >= text.size() || !first) return !fail();
        ++i_;
        const std::optional<AbcLength> factor = lengthSuffix();
        if (!factor) return !fail();
        add(*first * *factor);
        return true;
    }

    // A note or rest with its accidentals, octave marks and length, in whole notes.
    std::optional<AbcLength> note() {
        const std::string& text = *text_;
        while (i_ < text.size() && std::strchr("^_=", text[i_])) ++i_;
        if (i_ >= text.size() || !std::strchr("ABCDEFGabcdefgzx", text[i_])) return std::nullopt;
        ++i_;
        while (i_ < text.size() && (text[i_] == '\'' || text[i_] == ',')) ++i_;
        const std::optional<AbcLength> factor = lengthSuffix();
        if (!factor) return std::nullopt;
        return unit_ * *factor;
    }

    // "3", "/", "//", "3/2", "/4": the multiple of the unit; none when out of reason.
    std::optional<AbcLength> lengthSuffix() {
        const std::string& text = *text_;
        long n = 0, d = 1;
        while (i_ < text.size() && std::isdigit(static_cast<unsigned char>(text[i_])) && n < 10000)
            n = n * 10 + (text[i_++] - '0');
        if (n == 0) n = 1;
        while (i_ < text.size() && text[i_] == '/') {
            ++i_;
            long divisor = 0;
            while (i_ < text.size() && std::isdigit(static_cast<unsigned char>(text[i_])) &&
                   divisor < 10000)
                divisor = divisor * 10 + (text[i_++] - '0');
            d *= divisor ? divisor : 2;
            if (d > 1024) return std::nullopt;
        }
        if (n > 1024) return std::nullopt;
        return reduced(n, d);
    }

    // (p:q:r - p notes in the time of q, for the next r notes.
    bool tuplet() {
        const std::string& text = *text_;
        auto number = [&]() {
            long value = 0;
            while (i_ < text.size() && std::isdigit(static_cast<unsigned char>(text[i_])) &&
                   value < 100)
                value = value * 10 + (text[i_++] - '0');
            return value;
        };
        const long p = number();
        long q = 0, r = 0;
        if (i_ < text.size() && text[i_] == ':') {
            ++i_;
            q = number();
            if (i_ < text.size() && text[i_] == ':') {
                ++i_;
                r = number();
            }
        }
        if (p < 2 || p > 9) return false;
        if (q == 0) {
            const bool compound = meter_ && meter_->n % 3 == 0 && meter_->n > 3;
            q = (p == 3 || p == 6) ? 2 : (p == 2 || p == 4 || p == 8) ? 3 : compound ? 3 : 2;
        }
        tupletFactor_ = reduced(q, p);
        tupletLeft_ = r > 0 ? r : p;
        return true;
    }

    // > or < after a note: the note gains what the next one loses.
    bool broken() {
        const std::string& text = *text_;
        const char c = text[i_];
        long count = 0;
        while (i_ < text.size() && text[i_] == c) ++i_, ++count;
        if (notes_ == 0 || count > 3) return false;
        const long half = 1L << count;
        const AbcLength shorter{1, half};
        const AbcLength longer{2 * half - 1, half};
        const AbcLength previous = c == '>' ? longer : shorter;
        // The note already counted at its plain length grows or shrinks.
        total = total + AbcLength{-last_.n, last_.d} + last_ * previous;
        pendingFactor_ = c == '>' ? shorter : longer;
        return sane(total);
    }

    void add(AbcLength length) {
        length = length * pendingFactor_;
        pendingFactor_ = {1, 1};
        if (tupletLeft_ > 0) {
            length = length * tupletFactor_;
            --tupletLeft_;
        }
        last_ = length;
        total = total + length;
        ++notes_;
        if (!sane(total)) failed = true;
    }

    const std::string* text_ = nullptr;
    size_t i_ = 0;
    int notes_ = 0;
    AbcLength last_{0, 1};
    AbcLength pendingFactor_{1, 1};
    AbcLength tupletFactor_{1, 1};
    long tupletLeft_ = 0;
};

}  // namespace

AbcOpening abcOpening(const std::string& text, int tune) {
    std::istringstream in(text);
    bool inTune = false;
    std::optional<AbcLength> meter, unit;
    std::optional<OpeningScanner> body;
    AbcOpening opening;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool field =
            line.size() >= 2 && std::isalpha(static_cast<unsigned char>(line[0])) && line[1] == ':';
        if (field && line[0] == 'X') {
            if (inTune) break;
            inTune = std::atoi(line.c_str() + 2) == tune;
            continue;
        }
        if (!inTune) continue;
        if (!body) {
            if (field && line[0] == 'M') meter = fractionOf(line.substr(2));
            if (field && line[0] == 'L') unit = fractionOf(line.substr(2));
            if (field && line[0] == 'K') body.emplace(meter, unit);
            continue;
        }
        if (trimmed(line).empty()) break;  // the end of the tune
        if (line[0] == '%') continue;
        if (!body->line(line)) continue;
        if (body->failed || !body->meter_) return opening;
        opening.known = true;
        opening.bar = *body->meter_;
        opening.pickUp = body->total;
        return opening;
    }
    return opening;
}

}  // namespace varimel
