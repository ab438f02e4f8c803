// The one SQL statement the engine executes:
//
//   UPDATE <table> SET [<table>.]<column> = <literal> [;]
//
// Keywords are case-insensitive; a name is a run of letters, digits, '_' and non-ASCII
// characters, or any text but ']' inside brackets ([Nome do campo]). A literal is a signed
// integer (any number of '+'/'-' signs, as Jet's unary operators allow), or one of Jet's
// Boolean constants True, False, Yes, No, On, Off (True = -1, False = 0). Any other bare word
// in the value's place is, to Jet, a parameter that nobody supplied. Whitespace (blanks,
// tabs, line breaks) may stand between any two tokens.
#pragma once

#include <cstdint>
#include <string>

namespace jet {

struct UpdateLiteral {
    bool boolean = false;    // written as True/False/Yes/No/On/Off
    bool fits_int64 = true;  // false for integers beyond the 64-bit range
    int64_t integer = 0;     // the value when fits_int64 (True = -1, False = 0)
    double real = 0;         // the value as a double (always set)
};

struct UpdateStatement {
    std::string table;         // as written, brackets removed (UTF-8)
    std::string column_table;  // the qualifier of the column, empty when none
    std::string column;
    UpdateLiteral value;
    // When the value is a bare word that is not a constant: Jet takes it as a parameter, and
    // executing without parameters fails with 3061 (checked after the table and column, as Jet
    // does).
    std::string parameter;
};

// Parses `sql`. Throws JetError 3144 ("Syntax error in UPDATE statement.") for anything that
// is not an UPDATE of this form, and for a literal of another kind (text, decimals, dates),
// which this engine does not execute.
UpdateStatement ParseUpdateStatement(const std::string& sql);

}  // namespace jet
