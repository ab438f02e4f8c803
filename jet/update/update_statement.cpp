#include "jet/update/update_statement.h"

#include <optional>
#include <string_view>

#include "jet/base/error.h"

namespace jet {
namespace {

[[noreturn]] void SyntaxError(const std::string& detail) {
    RaiseWithDetail(kUpdateSyntax, "", "(" + detail + ")");
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool IsNameChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' ||
           u >= 0x80;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// A cursor over the statement.
class Scanner {
  public:
    explicit Scanner(const std::string& text) : text_(text) {}

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }
    bool AtEnd() {
        SkipSpace();
        return pos_ >= text_.size();
    }
    // Consumes `c` when it comes next.
    bool Accept(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    char Peek() {
        SkipSpace();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }

    // A bare word (letters, digits, '_', non-ASCII); empty when none comes next.
    std::string Word() {
        SkipSpace();
        size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }

    void Keyword(std::string_view keyword) {
        std::string w = Word();
        if (!EqualsIgnoringAsciiCase(w, keyword))
            SyntaxError("expected " + std::string(keyword) + (w.empty() ? "" : ", found " + w));
    }

    // A name, bare or in brackets.
    std::string Name(const char* what) {
        if (Accept('[')) {
            size_t close = text_.find(']', pos_);
            if (close == std::string::npos) SyntaxError("unclosed [ in the " + std::string(what));
            std::string name = text_.substr(pos_, close - pos_);
            pos_ = close + 1;
            if (name.empty()) SyntaxError("empty " + std::string(what) + " name");
            return name;
        }
        std::string w = Word();
        if (w.empty()) SyntaxError("expected the " + std::string(what) + " name");
        return w;
    }

    // Digits right at the cursor (no blanks skipped).
    std::string Digits() {
        size_t start = pos_;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }

  private:
    const std::string& text_;
    size_t pos_ = 0;
};

std::optional<int64_t> BooleanConstant(const std::string& word) {
    for (const char* t : {"True", "Yes", "On"})
        if (EqualsIgnoringAsciiCase(word, t)) return -1;
    for (const char* f : {"False", "No", "Off"})
        if (EqualsIgnoringAsciiCase(word, f)) return 0;
    return std::nullopt;
}

// The literal after '='; sets either statement.value or statement.parameter.
void ParseValue(Scanner& in, UpdateStatement& statement) {
    bool negative = false;
    bool signed_value = false;
    for (;;) {
        if (in.Accept('-')) {
            negative = !negative;
            signed_value = true;
        } else if (in.Accept('+')) {
            signed_value = true;
        } else {
            break;
        }
    }
    char next = in.Peek();
    if (IsDigit(next)) {
        std::string digits = in.Digits();
        char after = in.Peek();
        if (after == '.' || IsNameChar(after))
            SyntaxError("only whole numbers, True and False can be assigned");
        UpdateLiteral literal;
        // Beyond 19 digits the value cannot fit 64 bits; keep it only as a double.
        uint64_t magnitude = 0;
        bool fits = true;
        for (char d : digits) {
            auto digit = static_cast<uint64_t>(d - '0');
            if (magnitude > (UINT64_MAX - digit) / 10) {
                fits = false;
                break;
            }
            magnitude = magnitude * 10 + digit;
        }
        constexpr uint64_t kMaxPositive = static_cast<uint64_t>(INT64_MAX);
        if (fits && (negative ? magnitude > kMaxPositive + 1 : magnitude > kMaxPositive))
            fits = false;
        literal.fits_int64 = fits;
        if (fits) {
            literal.integer =
                negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
            literal.real = static_cast<double>(literal.integer);
        } else {
            double real = 0;
            for (char d : digits) real = real * 10 + (d - '0');
            literal.real = negative ? -real : real;
        }
        statement.value = literal;
        return;
    }
    if (next == '[') {
        statement.parameter = in.Name("value");  // [x] in a value's place is a parameter
        return;
    }
    std::string word = in.Word();
    if (word.empty()) SyntaxError("missing value after =");
    if (auto constant = BooleanConstant(word)) {
        UpdateLiteral literal;
        literal.boolean = true;
        literal.integer = negative ? -*constant : *constant;
        literal.real = static_cast<double>(literal.integer);
        statement.value = literal;
        return;
    }
    if (signed_value && EqualsIgnoringAsciiCase(word, "Null")) SyntaxError("a sign before Null");
    if (EqualsIgnoringAsciiCase(word, "Null")) SyntaxError("Null cannot be assigned here");
    statement.parameter = word;
}

}  // namespace

UpdateStatement ParseUpdateStatement(const std::string& sql) {
    Scanner in(sql);
    UpdateStatement statement;
    in.Keyword("UPDATE");
    statement.table = in.Name("table");
    in.Keyword("SET");
    statement.column = in.Name("column");
    if (in.Accept('.')) {
        statement.column_table = statement.column;
        statement.column = in.Name("column");
    }
    if (!in.Accept('=')) SyntaxError("expected = after the column");
    ParseValue(in, statement);
    in.Accept(';');
    if (!in.AtEnd()) SyntaxError("only UPDATE <table> SET <column> = <value> is executed");
    return statement;
}

}  // namespace jet
