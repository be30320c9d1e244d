#include "profiles/Formula.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace obd::profiles {

struct Formula::Node {
    enum class Kind { Number, Byte, Negate, Signed, Binary };

    Kind kind = Kind::Number;
    double number = 0;     // Number; Signed: the width in bits
    std::size_t byte = 0;  // Byte: 0 for A
    char op = 0;           // Binary: + - * / & | < (<<) > (>>)
    std::shared_ptr<const Node> left;
    std::shared_ptr<const Node> right;
};

namespace {

using Node = Formula::Node;
using NodePtr = std::shared_ptr<const Node>;

// Bitwise operands are whole numbers a double holds exactly.
constexpr double kMaxBitwise = 9007199254740992.0;  // 2^53

std::shared_ptr<Node> Make(Node::Kind kind) {
    auto node = std::make_shared<Node>();
    node->kind = kind;
    return node;
}

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    NodePtr formula() {
        NodePtr node = bitOr();
        skipSpaces();
        if (position_ < text_.size()) {
            fail(std::string("unexpected '") + text_[position_] + "'");
        }
        return node;
    }

    std::size_t bytesRead() const { return bytesRead_; }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw FormulaError(what + " at position " + std::to_string(position_ + 1) + " of \"" +
                           text_ + "\"");
    }

    void skipSpaces() {
        while (position_ < text_.size() && text_[position_] == ' ') {
            ++position_;
        }
    }

    // Consumes `token` if it comes next.
    bool accept(const char* token) {
        skipSpaces();
        const std::string_view wanted(token);
        if (text_.compare(position_, wanted.size(), wanted) == 0) {
            position_ += wanted.size();
            return true;
        }
        return false;
    }

    // Each level of nesting goes through here, so a deep formula is refused
    // before the stack is at risk.
    struct Depth {
        explicit Depth(Parser& parser) : parser_(parser) {
            if (++parser_.depth_ > kMaxFormulaDepth) {
                parser_.fail("nested deeper than " + std::to_string(kMaxFormulaDepth) + " levels");
            }
        }
        ~Depth() { --parser_.depth_; }
        Depth(const Depth&) = delete;
        Depth& operator=(const Depth&) = delete;

        Parser& parser_;
    };

    NodePtr binary(char op, NodePtr left, NodePtr right) {
        auto node = Make(Node::Kind::Binary);
        node->op = op;
        node->left = std::move(left);
        node->right = std::move(right);
        return node;
    }

    NodePtr bitOr() {
        NodePtr node = bitAnd();
        while (accept("|")) {
            node = binary('|', node, bitAnd());
        }
        return node;
    }

    NodePtr bitAnd() {
        NodePtr node = shift();
        while (accept("&")) {
            node = binary('&', node, shift());
        }
        return node;
    }

    NodePtr shift() {
        NodePtr node = sum();
        for (;;) {
            if (accept("<<")) {
                node = binary('<', node, sum());
            } else if (accept(">>")) {
                node = binary('>', node, sum());
            } else {
                return node;
            }
        }
    }

    NodePtr sum() {
        NodePtr node = product();
        for (;;) {
            if (accept("+")) {
                node = binary('+', node, product());
            } else if (accept("-")) {
                node = binary('-', node, product());
            } else {
                return node;
            }
        }
    }

    NodePtr product() {
        NodePtr node = unary();
        for (;;) {
            if (accept("*")) {
                node = binary('*', node, unary());
            } else if (accept("/")) {
                node = binary('/', node, unary());
            } else {
                return node;
            }
        }
    }

    NodePtr unary() {
        const Depth depth(*this);
        if (accept("-")) {
            auto node = Make(Node::Kind::Negate);
            node->left = unary();
            return node;
        }
        return primary();
    }

    NodePtr primary() {
        skipSpaces();
        if (position_ >= text_.size()) {
            fail("the formula ends early");
        }
        if (accept("(")) {
            NodePtr node = bitOr();
            if (!accept(")")) {
                fail("expected ')'");
            }
            return node;
        }
        if (accept("signed(")) {
            auto node = Make(Node::Kind::Signed);
            node->left = bitOr();
            if (!accept(",")) {
                fail("expected ',' and the width in bits");
            }
            skipSpaces();
            const double bits = number();
            if (bits < 1 || bits > 32 || bits != std::floor(bits)) {
                fail("the width of signed() is 1 to 32 bits");
            }
            node->number = bits;
            if (!accept(")")) {
                fail("expected ')'");
            }
            return node;
        }
        const char c = text_[position_];
        if (c >= 'A' && c <= 'Z' &&
            (position_ + 1 == text_.size() ||
             !std::isalnum(static_cast<unsigned char>(text_[position_ + 1])))) {
            auto node = Make(Node::Kind::Byte);
            node->byte = static_cast<std::size_t>(c - 'A');
            bytesRead_ = std::max(bytesRead_, node->byte + 1);
            ++position_;
            return node;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            auto node = Make(Node::Kind::Number);
            node->number = number();
            return node;
        }
        fail(std::string("unexpected '") + c + "'");
    }

    // A decimal number (digits, at most one point) or hex after 0x.
    double number() {
        const std::size_t start = position_;
        if (text_.compare(position_, 2, "0x") == 0 || text_.compare(position_, 2, "0X") == 0) {
            position_ += 2;
            const std::size_t digits = position_;
            while (position_ < text_.size() &&
                   std::isxdigit(static_cast<unsigned char>(text_[position_]))) {
                ++position_;
            }
            if (position_ == digits || position_ - digits > 13) {
                fail("expected 1 to 13 hex digits");
            }
            return static_cast<double>(
                std::strtoull(text_.substr(digits, position_ - digits).c_str(), nullptr, 16));
        }
        bool point = false;
        while (position_ < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[position_])) ||
                (text_[position_] == '.' && !point))) {
            point = point || text_[position_] == '.';
            ++position_;
        }
        const std::string digits = text_.substr(start, position_ - start);
        if (digits == "." || digits.empty()) {
            fail("expected a number");
        }
        return std::strtod(digits.c_str(), nullptr);
    }

    const std::string& text_;
    std::size_t position_ = 0;
    std::size_t depth_ = 0;
    std::size_t bytesRead_ = 0;
};

std::optional<std::uint64_t> Whole(double value) {
    if (!(value >= 0 && value <= kMaxBitwise) || value != std::floor(value)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

std::optional<double> Evaluate(const Node& node, const std::vector<std::uint8_t>& data) {
    switch (node.kind) {
        case Node::Kind::Number:
            return node.number;
        case Node::Kind::Byte:
            if (node.byte >= data.size()) {
                return std::nullopt;
            }
            return data[node.byte];
        case Node::Kind::Negate: {
            const auto value = Evaluate(*node.left, data);
            return value ? std::optional<double>(-*value) : std::nullopt;
        }
        case Node::Kind::Signed: {
            const auto value = Evaluate(*node.left, data);
            const auto whole = value ? Whole(*value) : std::nullopt;
            if (!whole) {
                return std::nullopt;
            }
            const auto bits = static_cast<unsigned>(node.number);
            const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
            const std::uint64_t raw = *whole & mask;
            const bool negative = (raw >> (bits - 1)) & 1U;
            return negative ? static_cast<double>(raw) - static_cast<double>(mask) - 1
                            : static_cast<double>(raw);
        }
        case Node::Kind::Binary:
            break;
    }
    const auto left = Evaluate(*node.left, data);
    const auto right = Evaluate(*node.right, data);
    if (!left || !right) {
        return std::nullopt;
    }
    switch (node.op) {
        case '+':
            return *left + *right;
        case '-':
            return *left - *right;
        case '*':
            return *left * *right;
        case '/':
            if (*right == 0) {
                return std::nullopt;
            }
            return *left / *right;
        default:
            break;
    }
    const auto a = Whole(*left);
    const auto b = Whole(*right);
    if (!a || !b) {
        return std::nullopt;
    }
    switch (node.op) {
        case '&':
            return static_cast<double>(*a & *b);
        case '|':
            return static_cast<double>(*a | *b);
        case '<':
            if (*b > 63) {
                return std::nullopt;
            }
            return static_cast<double>(*a << *b);
        default:  // '>'
            if (*b > 63) {
                return std::nullopt;
            }
            return static_cast<double>(*a >> *b);
    }
}

}  // namespace

Formula Formula::parse(const std::string& text) {
    if (text.size() > kMaxFormulaLength) {
        throw FormulaError("a formula has at most " + std::to_string(kMaxFormulaLength) +
                           " characters");
    }
    Parser parser(text);
    Formula formula;
    formula.root_ = parser.formula();
    formula.text_ = text;
    formula.bytesRead_ = parser.bytesRead();
    return formula;
}

std::optional<double> Formula::evaluate(const std::vector<std::uint8_t>& data) const {
    if (!root_) {
        return std::nullopt;
    }
    const auto value = Evaluate(*root_, data);
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace obd::profiles
