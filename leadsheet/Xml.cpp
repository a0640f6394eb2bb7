#include "leadsheet/Xml.h"

#include <charconv>
#include <cstdint>

#include "settings/RegFile.h"

namespace varimel::xml {

// --- Writer -----------------------------------------------------------------------------------

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters other than tab and line ends are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += ' ';
                else
                    out += c;
        }
    }
    return out;
}

Writer::Writer(std::string_view doctype) {
    out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
    if (!doctype.empty()) {
        out_ += doctype;
        out_ += '\n';
    }
}

void Writer::indent() {
    out_.append(open_.size() * 2, ' ');
}

void Writer::startTag(std::string_view name, std::initializer_list<Attribute> attributes) {
    indent();
    out_ += '<';
    out_ += name;
    for (const Attribute& attribute : attributes) {
        out_ += ' ';
        out_ += attribute.first;
        out_ += "=\"";
        out_ += escape(attribute.second);
        out_ += '"';
    }
}

void Writer::open(std::string_view name, std::initializer_list<Attribute> attributes) {
    startTag(name, attributes);
    out_ += ">\n";
    open_.emplace_back(name);
}

void Writer::close() {
    if (open_.empty()) return;
    const std::string name = std::move(open_.back());
    open_.pop_back();
    indent();
    out_ += "</" + name + ">\n";
}

void Writer::leaf(std::string_view name, std::string_view text,
                  std::initializer_list<Attribute> attributes) {
    startTag(name, attributes);
    if (text.empty()) {
        out_ += "/>\n";
        return;
    }
    out_ += '>';
    out_ += escape(text);
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

const std::string& Writer::finish() {
    while (!open_.empty()) close();
    return out_;
}

// --- Element ----------------------------------------------------------------------------------

const std::string* Element::attribute(std::string_view key) const {
    for (const auto& [name, value] : attributes)
        if (name == key) return &value;
    return nullptr;
}

const Element* Element::child(std::string_view childName) const {
    for (const Element& element : children)
        if (element.name == childName) return &element;
    return nullptr;
}

std::string Element::childText(std::string_view childName, std::string fallback) const {
    const Element* element = child(childName);
    return element ? element->text : fallback;
}

// --- Reader -----------------------------------------------------------------------------------

namespace {

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

class Parser {
  public:
    Parser(std::string_view text, ReadLimits limits) : text_(text), limits_(limits) {}

    bool document(Element& root) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        bool sawRoot = false;
        while (true) {
            skipSpace();
            if (pos_ >= text_.size()) break;
            if (startsWith("<?")) {
                if (!skipPast("?>", "unterminated processing instruction")) return false;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->", "unterminated comment")) return false;
            } else if (startsWith("<!DOCTYPE")) {
                if (sawRoot) return fail("document type after the root element");
                if (!doctype()) return false;
            } else if (startsWith("<")) {
                if (sawRoot) return fail("more than one root element");
                if (!element(root, 1)) return false;
                sawRoot = true;
            } else {
                return fail("text outside the root element");
            }
        }
        if (!sawRoot) return fail("no root element");
        return true;
    }

    std::string error;

  private:
    bool fail(const std::string& why) {
        if (error.empty()) error = why + " (at byte " + std::to_string(pos_) + ")";
        return false;
    }
    bool startsWith(std::string_view what) const { return text_.substr(pos_, what.size()) == what; }
    void skipSpace() {
        while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
    }
    bool skipPast(std::string_view end, const char* why) {
        const size_t found = text_.find(end, pos_);
        if (found == std::string_view::npos) return fail(why);
        pos_ = found + end.size();
        return true;
    }

    // An external document type is skipped (never fetched); an internal subset could declare
    // entities that expand without bound, and no score file needs one.
    bool doctype() {
        for (size_t i = pos_; i < text_.size(); ++i) {
            const char c = text_[i];
            if (c == '[') return fail("a document type with its own declarations is not read");
            if (c == '"' || c == '\'') {
                const size_t close = text_.find(c, i + 1);
                if (close == std::string_view::npos) break;
                i = close;
            } else if (c == '>') {
                pos_ = i + 1;
                return true;
            }
        }
        return fail("unterminated document type");
    }

    bool name(std::string& out) {
        const size_t start = pos_;
        if (pos_ >= text_.size() || !isNameStart(static_cast<unsigned char>(text_[pos_])))
            return fail("a name was expected");
        while (pos_ < text_.size() && isNameChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        out.assign(text_.substr(start, pos_ - start));
        return true;
    }

    // Character data up to `stop` (exclusive), with references decoded.
    bool characters(size_t stop, std::string& out) {
        while (pos_ < stop) {
            const size_t amp = text_.find('&', pos_);
            if (amp == std::string_view::npos || amp >= stop) {
                out.append(text_.substr(pos_, stop - pos_));
                pos_ = stop;
                break;
            }
            out.append(text_.substr(pos_, amp - pos_));
            pos_ = amp;
            if (!reference(out)) return false;
        }
        return true;
    }

    bool reference(std::string& out) {
        const size_t semicolon = text_.find(';', pos_);
        if (semicolon == std::string_view::npos || semicolon - pos_ > 12)
            return fail("unterminated reference");
        const std::string_view ref = text_.substr(pos_ + 1, semicolon - pos_ - 1);
        pos_ = semicolon + 1;
        if (ref == "lt") {
            out += '<';
        } else if (ref == "gt") {
            out += '>';
        } else if (ref == "amp") {
            out += '&';
        } else if (ref == "quot") {
            out += '"';
        } else if (ref == "apos") {
            out += '\'';
        } else if (ref.size() > 1 && ref[0] == '#') {
            const bool hex = ref[1] == 'x';
            const std::string_view digits = ref.substr(hex ? 2 : 1);
            uint32_t code = 0;
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() ||
                code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return fail("bad character reference");
            appendUtf8(out, static_cast<char32_t>(code));
        } else {
            return fail("undeclared entity '" + std::string(ref) + "'");
        }
        return true;
    }

    bool attributes(Element& element) {
        while (true) {
            const size_t before = pos_;
            skipSpace();
            if (pos_ >= text_.size()) return fail("unterminated start tag");
            const char c = text_[pos_];
            if (c == '>' || c == '/') return true;
            if (pos_ == before) return fail("a blank was expected between attributes");
            std::string key;
            if (!name(key)) return false;
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != '=') return fail("'=' was expected");
            ++pos_;
            skipSpace();
            if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\''))
                return fail("a quoted attribute value was expected");
            const char quote = text_[pos_++];
            const size_t close = text_.find(quote, pos_);
            if (close == std::string_view::npos) return fail("unterminated attribute value");
            if (text_.substr(pos_, close - pos_).find('<') != std::string_view::npos)
                return fail("'<' in an attribute value");
            std::string value;
            if (!characters(close, value)) return false;
            pos_ = close + 1;
            if (element.attribute(key)) return fail("attribute '" + key + "' given twice");
            element.attributes.emplace_back(std::move(key), std::move(value));
        }
    }

    bool element(Element& element, int depth) {
        if (depth > limits_.maxDepth) return fail("elements nested too deeply");
        if (++elements_ > limits_.maxElements) return fail("too many elements");
        ++pos_;  // '<'
        if (!name(element.name) || !attributes(element)) return false;
        if (text_[pos_] == '/') {
            if (!startsWith("/>")) return fail("'/>' was expected");
            pos_ += 2;
            return true;
        }
        ++pos_;  // '>'
        while (true) {
            const size_t lt = text_.find('<', pos_);
            if (lt == std::string_view::npos)
                return fail("unterminated element '" + element.name + "'");
            if (!characters(lt, element.text)) return false;
            if (startsWith("</")) {
                pos_ += 2;
                std::string closing;
                if (!name(closing)) return false;
                if (closing != element.name)
                    return fail("'" + closing + "' closes '" + element.name + "'");
                skipSpace();
                if (pos_ >= text_.size() || text_[pos_] != '>') return fail("'>' was expected");
                ++pos_;
                return true;
            }
            if (startsWith("<!--")) {
                if (!skipPast("-->", "unterminated comment")) return false;
            } else if (startsWith("<![CDATA[")) {
                pos_ += 9;
                const size_t end = text_.find("]]>", pos_);
                if (end == std::string_view::npos) return fail("unterminated CDATA section");
                element.text.append(text_.substr(pos_, end - pos_));
                pos_ = end + 3;
            } else if (startsWith("<?")) {
                if (!skipPast("?>", "unterminated processing instruction")) return false;
            } else if (startsWith("<!")) {
                return fail("a declaration inside an element");
            } else {
                element.children.emplace_back();
                if (!this->element(element.children.back(), depth + 1)) return false;
            }
        }
    }

    std::string_view text_;
    ReadLimits limits_;
    size_t pos_ = 0;
    size_t elements_ = 0;
};

}  // namespace

bool parse(std::string_view text, Element& root, std::string& error, ReadLimits limits) {
    root = Element{};
    Parser parser(text, limits);
    if (parser.document(root)) return true;
    error = parser.error;
    root = Element{};
    return false;
}

}  // namespace varimel::xml
