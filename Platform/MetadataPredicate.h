// A metadata query predicate: the part of the platform's query language that the program
// uses, parsed once and evaluated against the attributes of one item at a time.
//
//   comparison   ATTRIBUTE OP VALUE, OP one of == = != <> < <= > >= LIKE, an optional
//                modifier list after the operator ("==[c]") or after a quoted value
//                ("'*.app'c"): c ignores case (Unicode case folding), d and w are accepted
//                and have no effect
//   VALUE        a number, or a text in single or double quotes (backslash escapes)
//   combination  && AND  || OR  ! NOT  parentheses  TRUEPREDICATE  FALSEPREDICATE
//
// Semantics: a text value containing * or ? makes == and != (and always LIKE) a wildcard
// match (* any run of characters, ? one character). A quoted number compared with a
// numeric or date attribute compares as a number ("kMDItemFSSize > '1024'"); dates
// compare as seconds since 1970. An array attribute (kMDItemContentTypeTree) satisfies a
// comparison when one of its elements does, and != when none equals. A missing attribute
// fails every comparison but !=, which it satisfies.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Platform/Value.h"

namespace hvn {

class MetadataPredicate {
public:
    // Returns the attribute's value for the item being tested, or nullptr (or a null value)
    // when it has none. The value must stay valid until evaluate() returns.
    using Lookup = std::function<const Value*(const std::string& attribute)>;

    // The predicate that every item satisfies (TRUEPREDICATE).
    MetadataPredicate();

    // Parses a predicate text; nullopt with error filled (position and reason) when the
    // text is not in the language above.
    static std::optional<MetadataPredicate> parse(const std::string& text, std::string* error = nullptr);

    // Evaluates against one item. Attributes are looked up lazily, only when a comparison
    // needs them (left to right, with && and || short-circuiting). Thread-safe (const).
    bool evaluate(const Lookup& lookup) const;

    // The attribute names the predicate compares.
    const std::set<std::string>& attributes() const { return attributes_; }
    const std::string& text() const { return text_; }

    struct Node;

private:
    std::shared_ptr<const Node> root_;
    std::set<std::string> attributes_;
    std::string text_;
};

}  // namespace hvn
