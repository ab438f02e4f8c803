// The runtime's error state, as the system's procedures see it: every failure of a platform
// service or of the engine arrives as an exception carrying a number and a text, and the
// window keeps the last one in its `Err` object. Numbers follow the VB runtime for file
// errors (53, 58, 61, 70, 74, 75, 76, ...) and Jet/DAO for engine errors (3024, 3343, ...).
//
// Ending the program is not an error: it travels as EndProgram, which no error handler
// catches, up to the event slot that started the procedure.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "jet/base/env.h"
#include "jet/base/error.h"

namespace platform {

// VB runtime error numbers the platform raises.
enum VbNumber : int {
    kInvalidCall = 5,  // invalid procedure call or argument
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kInternalError = 51,
    kFileNotFound = 53,
    kDeviceIoError = 57,
    kFileAlreadyExists = 58,
    kDiskFull = 61,
    kTooManyFiles = 67,
    kPermissionDenied = 70,
    kRenameAcrossDrives = 74,
    kPathFileAccessError = 75,
    kPathNotFound = 76,
    kObjectNotSet = 91,
};

// The Portuguese text the VB runtime gives for `number`; a generic text for unknown numbers.
std::string VbText(int number);

// The operator's text for an engine error: a short Portuguese message in Jet's manner, one per
// number the engine raises, with `name` where the message names an object (a file, a table, a
// column); the VB numbers the engine raises (61, disk full) take VbText's. Unknown numbers get
// Jet's text for a reserved error.
std::string JetText(int number, const std::string& name = {});

// The one mapping from an operating-system error (errno) to a VB number. `folder_missing`
// tells a missing folder (76) from a missing file (53) when the code is ENOENT.
int VbNumberForErrno(int code, bool folder_missing = false);

// An error raised by a platform service. It is a jet::JetError, so engine errors and platform
// errors travel as one type and keep their numbers.
class VbError : public jet::JetError {
  public:
    explicit VbError(int number) : jet::JetError(number, VbText(number)) {}
    VbError(int number, const std::string& text) : jet::JetError(number, text) {}
};

// The VbError for an operating-system failure; see VbNumberForErrno.
VbError FromOsError(const jet::OsError& error, bool folder_missing = false);

// Thrown to end the program at once. Deliberately not a std::exception, so that no error
// handler of the system catches it.
class EndProgram {};

// Number, description and detail of a failure, as the error object keeps them.
struct ErrorInfo {
    int number = 0;
    std::string description;  // the operator's text, in Portuguese
    std::string detail;       // see ErrObject::Detail
};

// The error object: number and description of the last error caught by a handler. An engine
// error keeps the engine's own text beside them: the English message with what the
// description leaves out (which table, page or check), which the run's log file carries on a
// line of its own after the line that shows the error (Form1::GravaDetalhe).
class ErrObject {
  public:
    int Number = 0;
    std::string Description;
    std::string Detail;  // empty when the description says all there is

    void Clear() {
        Number = 0;
        Description.clear();
        Detail.clear();
    }
    // Raises an error with this number (and the runtime's text unless one is given).
    [[noreturn]] void Raise(int number, const std::string& description = {});

    // Runs `statement`. When it raises an error, the error's number and text are stored here
    // and true is returned; the caller goes on. EndProgram is not an error and passes through.
    template <class Statement>
    bool Capture(Statement&& statement) {
        try {
            std::forward<Statement>(statement)();
            return false;
        } catch (const EndProgram&) {
            throw;
        } catch (...) {
            Store(std::current_exception());
            return true;
        }
    }

    // Stores number and text of any exception but EndProgram (rethrown).
    void Store(std::exception_ptr error);
};

// Continue on error: runs one statement; a failure is kept in `err` and the caller goes on
// with its next statement.
template <class Statement>
void ResumeNext(ErrObject& err, Statement&& statement) {
    err.Capture(std::forward<Statement>(statement));
}

// A test under continue on error: a test whose evaluation fails counts as true, so the caller
// goes on with the statements the test guards.
template <class Test>
bool ResumeNextTest(ErrObject& err, Test&& test) {
    bool result = true;
    if (err.Capture([&] { result = static_cast<bool>(test()); })) return true;
    return result;
}

// Number, text and detail of any exception but EndProgram, as the error object would hold
// them. An engine error (a jet::JetError that is no VbError) is given its JetText, and its
// own text becomes the detail when it says more than the engine's standard message; a VB
// error keeps its text; an operating-system failure takes the VB number and text for it and
// keeps its own text as the detail, and so does any other exception under 51.
ErrorInfo Describe(std::exception_ptr error);

}  // namespace platform
