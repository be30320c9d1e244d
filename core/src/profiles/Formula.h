#pragma once

// A profile's formula: an arithmetic expression over the data bytes of an
// answer, parsed once when the profile loads and evaluated for each answer.
//
//   A ... Z        the data bytes after the echoed identifier (A the first),
//                  0 to 255
//   12, 0.5, 0x1F  numbers
//   + - * /        arithmetic on doubles; unary minus
//   & | << >>      bitwise, on the operands' whole values (0 to 2^53)
//   ( )            grouping
//   signed(x, n)   x read as an n-bit two's complement number (n 1 to 32):
//                  signed(A, 8) is A as a signed byte, signed(A*256+B, 16)
//                  the signed word of A and B
//
// Precedence from loosest to tightest: |, &, << >>, + -, * /, unary minus,
// as in C. A formula holds at most kMaxFormulaLength characters and nests at
// most kMaxFormulaDepth levels, so parsing and evaluating stay bounded
// whatever a file holds.
//
// Thread safety: a Formula is immutable once parsed; evaluate() may be called
// from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace obd::profiles {

constexpr std::size_t kMaxFormulaLength = 256;
constexpr std::size_t kMaxFormulaDepth = 32;

// Why a formula does not parse, with the position (0-based) of the fault.
class FormulaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Formula {
public:
    // Throws FormulaError for a text that is not a formula.
    static Formula parse(const std::string& text);

    // The value for `data`; nothing when the formula reads a byte the data
    // lacks, divides by zero, shifts by more than 63 or takes a bitwise
    // operation of a value that is not a whole number from 0 to 2^53.
    std::optional<double> evaluate(const std::vector<std::uint8_t>& data) const;

    // How many data bytes the formula reads (the last letter it names, B: 2).
    std::size_t bytesRead() const { return bytesRead_; }
    const std::string& text() const { return text_; }

    struct Node;

private:
    std::string text_;
    std::shared_ptr<const Node> root_;
    std::size_t bytesRead_ = 0;
};

}  // namespace obd::profiles
