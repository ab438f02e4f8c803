// Errors raised by the engine. Every failure the engine reports is a JetError carrying the
// number and text that DAO would give for it (docs/errors.md lists them), so the
// layers above can keep the error state of the system they stand in for.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace jet {

// Jet/DAO error numbers the engine raises. 61 is the VB "disk full" number: the callers
// classify a full disk by it, so the engine raises it instead of Jet's own 3026.
enum ErrorNumber : int {
    kDiskFull = 61,
    kFileNotFound = 3024,
    kNotEnoughSpace = 3026,
    kReadOnly = 3027,
    kNotValidPassword = 3031,
    kSystemResourceExceeded = 3035,
    kDatabaseFull = 3036,
    kDiskReadError = 3040,
    kDiskOrNetworkError = 3043,
    kNotValidPath = 3044,
    kFileInUse = 3045,
    kRecordTooLarge = 3047,
    kCannotOpenDatabase = 3049,
    kCouldNotLockFile = 3050,
    kCannotOpenFile = 3051,
    kCouldNotRepair = 3056,
    kTooFewParameters = 3061,
    kInputTableNotFound = 3078,
    kFieldNotUpdatable = 3113,
    kUpdateSyntax = 3144,
    kFieldTooSmall = 3163,
    kDatabaseInUse = 3196,
    kDatabaseExists = 3204,
    kCouldNotUpdateLocked = 3218,
    kInvalidOperation = 3219,
    kItemNotFound = 3265,
    kUnrecognizedFormat = 3343,
    kNumericOverflow = 3349,
    kOpenedExclusively = 3356,
    kObjectInvalid = 3420,
    kTypeMismatch = 3464,
};

class JetError : public std::runtime_error {
  public:
    JetError(int number, const std::string& text) : std::runtime_error(text), number_(number) {}
    // `name`: the object the number's standard message names (a file, a table, a column).
    JetError(int number, const std::string& text, std::string name)
        : std::runtime_error(text), number_(number), name_(std::move(name)) {}
    int number() const { return number_; }
    // The object the message names, as given to Raise; empty when the error was raised
    // without one. The layers above use it to word the message their own way.
    const std::string& name() const { return name_; }

  private:
    int number_;
    std::string name_;
};

// The standard message for `number`, with `name` put where the message names an object
// (a file, a table). Unknown numbers get a generic text.
std::string ErrorText(int number, const std::string& name = {});

// Throws JetError(number, ErrorText(number, name)).
[[noreturn]] void Raise(int number, const std::string& name = {});

// Throws JetError(number, ErrorText(number, name) + " " + detail): for damage reports that
// must say where the damage is.
[[noreturn]] void RaiseWithDetail(int number, const std::string& name, const std::string& detail);

}  // namespace jet
