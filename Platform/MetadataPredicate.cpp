#include "Platform/MetadataPredicate.h"

#include <unicode/unistr.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace hvn {

struct MetadataPredicate::Node {
    enum class Kind { True, False, Not, And, Or, Compare } kind = Kind::True;
    enum class Op { Eq, Ne, Lt, Le, Gt, Ge, Like } op = Op::Eq;
    std::shared_ptr<const Node> left, right;
    std::string attribute;
    Value literal;
    bool ignoreCase = false;
    // Prepared once from the literal: its number (when it is one), its text (case-folded
    // with ignoreCase) and whether that text is a wildcard pattern.
    std::optional<double> number;
    std::string text;
    bool wildcard = false;
};

namespace {

using Node = MetadataPredicate::Node;
using NodePtr = std::shared_ptr<const Node>;

std::string foldCase(const std::string& s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(s);
    u.foldCase();
    std::string out;
    u.toUTF8String(out);
    return out;
}

// Wildcard match over UTF-8: '*' any run, '?' one character.
bool wildcardMatch(const std::string& pattern, const std::string& text) {
    auto charLen = [](const std::string& s, size_t i) {
        size_t n = 1;
        while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) ++n;
        return n;
    };
    size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            t += charLen(text, t);
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            starT += charLen(text, starT);
            t = starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// A whole text that is a number, as a double.
std::optional<double> numberFromText(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || std::isnan(d)) return std::nullopt;
    return d;
}

bool compareOrder(int cmp, Node::Op op) {
    switch (op) {
        case Node::Op::Eq:
        case Node::Op::Like:
            return cmp == 0;
        case Node::Op::Ne:
            return cmp != 0;
        case Node::Op::Lt:
            return cmp < 0;
        case Node::Op::Le:
            return cmp <= 0;
        case Node::Op::Gt:
            return cmp > 0;
        case Node::Op::Ge:
            return cmp >= 0;
    }
    return false;
}

// One scalar attribute value against the comparison, with op in place of the node's
// (Ne is evaluated as the negation of Eq by the caller).
bool compareScalar(const Value& v, const Node& n, Node::Op op) {
    if (v.isNumber() || v.isDate()) {
        if (!n.number) return false;
        if (v.isInteger() && n.literal.isInteger()) {
            int64_t a = v.asInteger(), b = n.literal.asInteger();
            return compareOrder(a < b ? -1 : (a > b ? 1 : 0), op);
        }
        double a = v.asReal();
        return compareOrder(a < *n.number ? -1 : (a > *n.number ? 1 : 0), op);
    }
    if (v.isString()) {
        std::string folded;
        const std::string* lhs = &v.asString();
        if (n.ignoreCase) {
            folded = foldCase(*lhs);
            lhs = &folded;
        }
        if (op == Node::Op::Like || (op == Node::Op::Eq && n.wildcard)) return wildcardMatch(n.text, *lhs);
        int cmp = lhs->compare(n.text);
        return compareOrder(cmp < 0 ? -1 : (cmp > 0 ? 1 : 0), op);
    }
    return false;
}

bool evaluateNode(const Node& n, const MetadataPredicate::Lookup& lookup) {
    switch (n.kind) {
        case Node::Kind::True:
            return true;
        case Node::Kind::False:
            return false;
        case Node::Kind::Not:
            return !evaluateNode(*n.left, lookup);
        case Node::Kind::And:
            return evaluateNode(*n.left, lookup) && evaluateNode(*n.right, lookup);
        case Node::Kind::Or:
            return evaluateNode(*n.left, lookup) || evaluateNode(*n.right, lookup);
        case Node::Kind::Compare:
            break;
    }
    const Value* v = lookup(n.attribute);
    bool negate = n.op == Node::Op::Ne;
    Node::Op op = negate ? Node::Op::Eq : n.op;
    bool hit = false;
    if (v && v->isArray()) {
        for (const Value& e : v->asArray()) {
            if (compareScalar(e, n, op)) {
                hit = true;
                break;
            }
        }
    } else if (v && !v->isNull()) {
        hit = compareScalar(*v, n, op);
    }
    return negate ? !hit : hit;
}

// --- Parser ---

struct Token {
    enum class Type {
        End,
        Ident,
        Number,
        String,
        Op,
        LParen,
        RParen,
        And,
        Or,
        Not,
        Modifiers
    } type = Type::End;
    std::string text;
    size_t pos = 0;
};

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}

    NodePtr parseAll(std::set<std::string>& attributes, std::string& error) {
        attributes_ = &attributes;
        if (!lex()) {
            error = error_;
            return nullptr;
        }
        NodePtr root = parseOr();
        if (root && tokens_[i_].type != Token::Type::End) fail(tokens_[i_].pos, "unexpected text");
        if (!error_.empty()) {
            error = error_;
            return nullptr;
        }
        return root;
    }

private:
    bool fail(size_t pos, const std::string& why) {
        if (error_.empty()) error_ = "predicate error at " + std::to_string(pos) + ": " + why;
        return false;
    }

    bool lex() {
        size_t i = 0;
        while (i < s_.size()) {
            char c = s_[i];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i;
                continue;
            }
            Token t;
            t.pos = i;
            if (c == '(') {
                t.type = Token::Type::LParen;
                ++i;
            } else if (c == ')') {
                t.type = Token::Type::RParen;
                ++i;
            } else if (c == '&' && i + 1 < s_.size() && s_[i + 1] == '&') {
                t.type = Token::Type::And;
                i += 2;
            } else if (c == '|' && i + 1 < s_.size() && s_[i + 1] == '|') {
                t.type = Token::Type::Or;
                i += 2;
            } else if (c == '=' || c == '!' || c == '<' || c == '>') {
                std::string two = s_.substr(i, 2);
                if (two == "==" || two == "!=" || two == "<>" || two == "<=" || two == ">=" || two == "=<" ||
                    two == "=>") {
                    t.type = Token::Type::Op;
                    t.text = two;
                    i += 2;
                } else if (c == '!') {
                    t.type = Token::Type::Not;
                    ++i;
                } else {
                    t.type = Token::Type::Op;
                    t.text = std::string(1, c);
                    ++i;
                }
            } else if (c == '[') {
                size_t close = s_.find(']', i);
                if (close == std::string::npos) return fail(i, "unclosed modifier list");
                t.type = Token::Type::Modifiers;
                t.text = s_.substr(i + 1, close - i - 1);
                i = close + 1;
            } else if (c == '\'' || c == '"') {
                char quote = c;
                std::string out;
                size_t j = i + 1;
                bool closed = false;
                while (j < s_.size()) {
                    if (s_[j] == '\\' && j + 1 < s_.size()) {
                        out += s_[j + 1];
                        j += 2;
                    } else if (s_[j] == quote) {
                        closed = true;
                        ++j;
                        break;
                    } else {
                        out += s_[j++];
                    }
                }
                if (!closed) return fail(i, "unclosed text");
                t.type = Token::Type::String;
                t.text = out;
                tokens_.push_back(t);
                // Modifier letters written right after the closing quote ('*.app'cd).
                size_t k = j;
                while (k < s_.size() && std::isalpha(static_cast<unsigned char>(s_[k]))) ++k;
                if (k > j) {
                    Token m;
                    m.type = Token::Type::Modifiers;
                    m.text = s_.substr(j, k - j);
                    m.pos = j;
                    tokens_.push_back(m);
                }
                i = k;
                continue;
            } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                       ((c == '-' || c == '+' || c == '.') && i + 1 < s_.size() &&
                        std::isdigit(static_cast<unsigned char>(s_[i + 1])))) {
                size_t j = i + 1;
                while (j < s_.size() &&
                       (std::isalnum(static_cast<unsigned char>(s_[j])) || s_[j] == '.' ||
                        ((s_[j] == '-' || s_[j] == '+') && (s_[j - 1] == 'e' || s_[j - 1] == 'E'))))
                    ++j;
                t.type = Token::Type::Number;
                t.text = s_.substr(i, j - i);
                i = j;
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$') {
                size_t j = i + 1;
                while (j < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[j])) || s_[j] == '_' ||
                                         s_[j] == '$' || s_[j] == '.'))
                    ++j;
                t.text = s_.substr(i, j - i);
                std::string up = t.text;
                for (char& ch : up) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                if (up == "AND") {
                    t.type = Token::Type::And;
                } else if (up == "OR") {
                    t.type = Token::Type::Or;
                } else if (up == "NOT") {
                    t.type = Token::Type::Not;
                } else if (up == "LIKE") {
                    t.type = Token::Type::Op;
                    t.text = "LIKE";
                } else {
                    t.type = Token::Type::Ident;
                }
                i = j;
            } else {
                return fail(i, std::string("unexpected character '") + c + "'");
            }
            tokens_.push_back(t);
        }
        Token end;
        end.pos = s_.size();
        tokens_.push_back(end);
        return true;
    }

    const Token& peek() const { return tokens_[i_]; }
    const Token& next() { return tokens_[i_ < tokens_.size() - 1 ? i_++ : i_]; }

    NodePtr parseOr() {
        NodePtr left = parseAnd();
        while (left && peek().type == Token::Type::Or) {
            next();
            NodePtr right = parseAnd();
            if (!right) return nullptr;
            auto n = std::make_shared<Node>();
            n->kind = Node::Kind::Or;
            n->left = left;
            n->right = right;
            left = n;
        }
        return left;
    }

    NodePtr parseAnd() {
        NodePtr left = parseUnary();
        while (left && peek().type == Token::Type::And) {
            next();
            NodePtr right = parseUnary();
            if (!right) return nullptr;
            auto n = std::make_shared<Node>();
            n->kind = Node::Kind::And;
            n->left = left;
            n->right = right;
            left = n;
        }
        return left;
    }

    NodePtr parseUnary() {
        const Token& t = peek();
        if (t.type == Token::Type::Not) {
            next();
            NodePtr inner = parseUnary();
            if (!inner) return nullptr;
            auto n = std::make_shared<Node>();
            n->kind = Node::Kind::Not;
            n->left = inner;
            return n;
        }
        if (t.type == Token::Type::LParen) {
            next();
            NodePtr inner = parseOr();
            if (!inner) return nullptr;
            if (peek().type != Token::Type::RParen) {
                fail(peek().pos, "missing ')'");
                return nullptr;
            }
            next();
            return inner;
        }
        if (t.type == Token::Type::Ident) return parseComparison();
        fail(t.pos, t.type == Token::Type::End ? "unexpected end" : "expected a comparison");
        return nullptr;
    }

    bool applyModifiers(const Token& t, Node& n) {
        for (char c : t.text) {
            if (c == 'c' || c == 'C') {
                n.ignoreCase = true;
            } else if (c != 'd' && c != 'D' && c != 'w' && c != 'W') {
                return fail(t.pos, std::string("unknown modifier '") + c + "'");
            }
        }
        return true;
    }

    NodePtr parseComparison() {
        const Token& ident = next();
        std::string up = ident.text;
        for (char& ch : up) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        auto n = std::make_shared<Node>();
        if (up == "TRUEPREDICATE" || up == "FALSEPREDICATE") {
            n->kind = up == "TRUEPREDICATE" ? Node::Kind::True : Node::Kind::False;
            return n;
        }
        n->kind = Node::Kind::Compare;
        n->attribute = ident.text;
        const Token& op = next();
        if (op.type != Token::Type::Op) {
            fail(op.pos, "expected an operator after " + ident.text);
            return nullptr;
        }
        static const std::vector<std::pair<std::string, Node::Op>> ops = {
            {"==", Node::Op::Eq}, {"=", Node::Op::Eq},  {"!=", Node::Op::Ne},    {"<>", Node::Op::Ne},
            {"<", Node::Op::Lt},  {"<=", Node::Op::Le}, {"=<", Node::Op::Le},    {">", Node::Op::Gt},
            {">=", Node::Op::Ge}, {"=>", Node::Op::Ge}, {"LIKE", Node::Op::Like}};
        for (const auto& [text, o] : ops) {
            if (op.text == text) n->op = o;
        }
        if (peek().type == Token::Type::Modifiers && !applyModifiers(next(), *n)) return nullptr;
        const Token& value = next();
        if (value.type == Token::Type::String) {
            n->literal = Value(value.text);
        } else if (value.type == Token::Type::Number) {
            const std::string& txt = value.text;
            char* end = nullptr;
            bool integral = txt.find_first_of(".eE") == std::string::npos;
            if (integral) {
                long long v = std::strtoll(txt.c_str(), &end, 10);
                if (*end != '\0') {
                    fail(value.pos, "bad number " + txt);
                    return nullptr;
                }
                n->literal = Value(v);
            } else {
                double d = std::strtod(txt.c_str(), &end);
                if (*end != '\0') {
                    fail(value.pos, "bad number " + txt);
                    return nullptr;
                }
                n->literal = Value(d);
            }
        } else {
            fail(value.pos, "expected a number or a quoted text");
            return nullptr;
        }
        if (peek().type == Token::Type::Modifiers && !applyModifiers(next(), *n)) return nullptr;
        if (n->literal.isNumber()) n->number = n->literal.asReal();
        if (n->literal.isString()) n->number = numberFromText(n->literal.asString());
        n->text = n->literal.isString() ? n->literal.asString() : value.text;
        if (n->ignoreCase) n->text = foldCase(n->text);
        n->wildcard = n->text.find_first_of("*?") != std::string::npos;
        attributes_->insert(n->attribute);
        return n;
    }

    const std::string& s_;
    std::vector<Token> tokens_;
    size_t i_ = 0;
    std::string error_;
    std::set<std::string>* attributes_ = nullptr;
};

}  // namespace

MetadataPredicate::MetadataPredicate() : root_(std::make_shared<Node>()), text_("TRUEPREDICATE") {}

std::optional<MetadataPredicate> MetadataPredicate::parse(const std::string& text, std::string* error) {
    MetadataPredicate p;
    std::string err;
    Parser parser(text);
    NodePtr root = parser.parseAll(p.attributes_, err);
    if (!root) {
        if (error) *error = err;
        return std::nullopt;
    }
    p.root_ = root;
    p.text_ = text;
    return p;
}

bool MetadataPredicate::evaluate(const Lookup& lookup) const {
    return evaluateNode(*root_, lookup);
}

}  // namespace hvn
