#include "leadsheet/Xml.h"

#include <charconv>
#include <cstdint>
#include <pugixml.hpp>
#include <unordered_set>

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

// pugixml reads the document (any encoding, linear time); the limits of a score file are kept
// here: no document type with its own declarations, no entity beyond XML's five, bounded depth
// and element count. References are decoded here rather than by pugixml, so that an undeclared
// entity is refused instead of passed through as text.
class TreeBuilder {
  public:
    explicit TreeBuilder(ReadLimits limits) : limits_(limits) {}

    bool build(const pugi::xml_node& node, Element& element, int depth) {
        if (depth > limits_.maxDepth) return fail("elements nested too deeply");
        if (++elements_ > limits_.maxElements) return fail("too many elements");
        element.name = node.name();
        std::unordered_set<std::string_view> names;
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            if (!names.insert(attribute.name()).second)
                return fail("attribute '" + std::string(attribute.name()) + "' given twice");
            std::string value;
            if (!decode(attribute.value(), value)) return false;
            element.attributes.emplace_back(attribute.name(), std::move(value));
        }
        // Children are built in place; walking siblings keeps the cost linear in the file.
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            switch (child.type()) {
                case pugi::node_element:
                    element.children.emplace_back();
                    if (!build(child, element.children.back(), depth + 1)) return false;
                    break;
                case pugi::node_pcdata:
                    if (!decode(child.value(), element.text)) return false;
                    break;
                case pugi::node_cdata:
                    element.text += child.value();
                    break;
                default:
                    break;
            }
        }
        return true;
    }

    std::string error;

  private:
    bool fail(const std::string& why) {
        if (error.empty()) error = why;
        return false;
    }

    bool decode(std::string_view raw, std::string& out) {
        size_t pos = 0;
        while (pos < raw.size()) {
            const size_t amp = raw.find('&', pos);
            if (amp == std::string_view::npos) {
                out.append(raw.substr(pos));
                return true;
            }
            out.append(raw.substr(pos, amp - pos));
            const size_t semicolon = raw.find(';', amp);
            if (semicolon == std::string_view::npos || semicolon - amp > 12)
                return fail("unterminated reference");
            const std::string_view ref = raw.substr(amp + 1, semicolon - amp - 1);
            pos = semicolon + 1;
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
                const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(),
                                                       code, hex ? 16 : 10);
                if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() ||
                    code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                    return fail("bad character reference");
                appendUtf8(out, static_cast<char32_t>(code));
            } else {
                return fail("undeclared entity '" + std::string(ref) + "'");
            }
        }
        return true;
    }

    ReadLimits limits_;
    size_t elements_ = 0;
};

// UTF-16 text (with or without a byte-order mark) as UTF-8, so that the shape check below and
// the parser see one encoding; false for a broken surrogate pair.
bool utf16ToUtf8(std::string_view text, std::string& out) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    bool little = false;
    size_t start = 0;
    if (text.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        little = true;
        start = 2;
    } else if (text.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
        start = 2;
    } else {
        little = text.size() >= 2 && byte(1) == 0;
    }
    auto unit = [&](size_t i) -> char32_t {
        return little ? char32_t(byte(i) | byte(i + 1) << 8) : char32_t(byte(i) << 8 | byte(i + 1));
    };
    out.clear();
    out.reserve(text.size());
    for (size_t i = start; i + 1 < text.size(); i += 2) {
        char32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 3 >= text.size()) return false;
            const char32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        appendUtf8(out, code);
    }
    return true;
}

bool isUtf16(std::string_view text) {
    if (text.size() < 2) return false;
    const auto a = static_cast<unsigned char>(text[0]), b = static_cast<unsigned char>(text[1]);
    return (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF) || (a == '<' && b == 0) ||
           (a == 0 && b == '<');
}

// Depth and element count taken from the text before the parser builds anything, so a file of
// millions of nested or empty elements is refused without building a tree of them.
bool checkShape(std::string_view text, ReadLimits limits, std::string& error) {
    int depth = 0;
    size_t elements = 0;
    size_t pos = 0;
    auto skipPast = [&](std::string_view end) {
        const size_t found = text.find(end, pos);
        pos = found == std::string_view::npos ? text.size() : found + end.size();
    };
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        const std::string_view rest = text.substr(pos);
        if (rest.substr(0, 4) == "<!--") {
            skipPast("-->");
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            skipPast("]]>");
        } else if (rest.substr(0, 2) == "<?") {
            skipPast("?>");
        } else if (rest.substr(0, 2) == "<!") {
            // A document type: an internal subset could declare entities that expand without
            // bound, and no score file needs one.
            const size_t close = text.find('>', pos);
            const size_t open = text.find('[', pos);
            if (open != std::string_view::npos && open < close) {
                error = "a document type with its own declarations is not read";
                return false;
            }
            pos = close == std::string_view::npos ? text.size() : close + 1;
        } else if (rest.substr(0, 2) == "</") {
            --depth;
            skipPast(">");
        } else {
            if (++depth > limits.maxDepth) {
                error = "elements nested too deeply";
                return false;
            }
            if (++elements > limits.maxElements) {
                error = "too many elements";
                return false;
            }
            // The end of the tag, past quoted attribute values.
            ++pos;
            char quote = 0;
            while (pos < text.size() && (quote || text[pos] != '>')) {
                if (quote && text[pos] == quote)
                    quote = 0;
                else if (!quote && (text[pos] == '"' || text[pos] == '\''))
                    quote = text[pos];
                ++pos;
            }
            if (pos < text.size() && text[pos - 1] == '/') --depth;
            ++pos;
        }
    }
    return true;
}

}  // namespace

bool parse(std::string_view text, Element& root, std::string& error, ReadLimits limits) {
    root = Element{};
    std::string converted;
    if (isUtf16(text)) {
        if (!utf16ToUtf8(text, converted)) {
            error = "broken UTF-16 text";
            return false;
        }
        text = converted;
    }
    if (!checkShape(text, limits, error)) return false;
    pugi::xml_document document;
    // Escapes stay raw (decoded above); the document type is kept to be checked.
    constexpr unsigned kOptions =
        (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_doctype | pugi::parse_cdata;
    const pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), kOptions, pugi::encoding_utf8);
    if (!result) {
        error =
            std::string(result.description()) + " (at byte " + std::to_string(result.offset) + ")";
        return false;
    }
    pugi::xml_node element;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_doctype) {
            if (element) {
                error = "document type after the root element";
                return false;
            }
            // An internal subset could declare entities that expand without bound, and no
            // score file needs one.
            if (std::string_view(node.value()).find('[') != std::string_view::npos) {
                error = "a document type with its own declarations is not read";
                return false;
            }
        } else if (node.type() == pugi::node_element) {
            if (element) {
                error = "more than one root element";
                return false;
            }
            element = node;
        } else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            error = "text outside the root element";
            return false;
        }
    }
    if (!element) {
        error = "no root element";
        return false;
    }
    TreeBuilder builder(limits);
    if (builder.build(element, root, 1)) return true;
    error = builder.error;
    root = Element{};
    return false;
}

}  // namespace varimel::xml
