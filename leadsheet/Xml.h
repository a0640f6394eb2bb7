// Xml: the small XML writer and reader of the lead-sheet files. The writer escapes every text
// and attribute; the reader is strict and refuses what a score file never needs (DTD internal
// subsets, entity declarations, undeclared entities), so a hostile file cannot expand or nest
// without bound.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varimel::xml {

using Attribute = std::pair<std::string_view, std::string>;

// Builds an indented document in memory, two blanks per level.
class Writer {
  public:
    // The XML declaration and, when given, a document type line.
    explicit Writer(std::string_view doctype = {});

    void open(std::string_view name, std::initializer_list<Attribute> attributes = {});
    void close();
    // <name attributes>text</name>, or <name attributes/> when text is empty.
    void leaf(std::string_view name, std::string_view text,
              std::initializer_list<Attribute> attributes = {});
    void empty(std::string_view name, std::initializer_list<Attribute> attributes = {}) {
        leaf(name, {}, attributes);
    }

    // Closes whatever is still open and answers the document.
    const std::string& finish();

  private:
    void startTag(std::string_view name, std::initializer_list<Attribute> attributes);
    void indent();

    std::string out_;
    std::vector<std::string> open_;
};

std::string escape(std::string_view text);

struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Element> children;
    std::string text;  // character data directly inside, concatenated

    const std::string* attribute(std::string_view key) const;
    const Element* child(std::string_view childName) const;
    // The text of the first child of that name, or `fallback` when there is none.
    std::string childText(std::string_view childName, std::string fallback = {}) const;
};

struct ReadLimits {
    int maxDepth = 64;
    size_t maxElements = 2'000'000;
};

// Parses a whole document into `root`. False with `error` set for anything that is not
// well-formed or that the reader refuses.
bool parse(std::string_view text, Element& root, std::string& error, ReadLimits limits = {});

}  // namespace varimel::xml
