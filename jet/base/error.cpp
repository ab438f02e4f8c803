#include "jet/base/error.h"

#include <string_view>

namespace jet {
namespace {

struct Message {
    int number;
    std::string_view text;  // '|' stands for the object's name
};

// Jet 4 wording of the DAO messages.
constexpr Message kMessages[] = {
    {kDiskFull, "Disk full."},
    {kFileNotFound, "Could not find file '|'."},
    {kNotEnoughSpace, "Not enough space on disk."},
    {kReadOnly, "Cannot update. Database or object is read-only."},
    {kNotValidPassword, "Not a valid password."},
    {kSystemResourceExceeded, "System resource exceeded."},
    {kDatabaseFull, "Database has reached maximum size."},
    {kDiskReadError, "Disk I/O error during read."},
    {kDiskOrNetworkError, "Disk or network error."},
    {kNotValidPath,
     "'|' is not a valid path. Make sure that the path name is spelled correctly and that you "
     "are connected to the server on which the file resides."},
    {kFileInUse, "Could not use '|'; file already in use."},
    {kRecordTooLarge, "Record is too large."},
    {kCannotOpenDatabase,
     "Cannot open database '|'. It may not be a database that your application recognizes, or "
     "the file may be corrupt."},
    {kCouldNotLockFile, "Could not lock file."},
    {kCannotOpenFile,
     "The Microsoft Jet database engine cannot open the file '|'. It is already opened "
     "exclusively by another user, or you need permission to view its data."},
    {kCouldNotRepair, "Couldn't repair this database."},
    {kTooFewParameters, "Too few parameters. Expected |."},
    {kInputTableNotFound,
     "The Microsoft Jet database engine cannot find the input table or query '|'. Make sure it "
     "exists and that its name is spelled correctly."},
    {kFieldNotUpdatable, "Cannot update '|'; field not updateable."},
    {kUpdateSyntax, "Syntax error in UPDATE statement."},
    {kFieldTooSmall,
     "The field is too small to accept the amount of data you attempted to add. Try inserting "
     "or pasting less data."},
    {kDatabaseInUse,
     "The database '|' is already in use by another person or process. When the database "
     "becomes available, try the operation again."},
    {kDatabaseExists, "Database already exists."},
    {kCouldNotUpdateLocked, "Could not update; currently locked."},
    {kInvalidOperation, "Invalid operation."},
    {kItemNotFound, "Item not found in this collection."},
    {kUnrecognizedFormat, "Unrecognized database format '|'."},
    {kNumericOverflow, "Numeric field overflow."},
    {kObjectInvalid, "Object invalid or no longer set."},
    {kTypeMismatch, "Data type mismatch in criteria expression."},
    {kOpenedExclusively,
     "You attempted to open a database that is already opened exclusively by user '|'. Try "
     "again when the database is available."},
};

}  // namespace

std::string ErrorText(int number, const std::string& name) {
    for (const Message& m : kMessages) {
        if (m.number != number) continue;
        std::string out;
        for (char c : m.text) {
            if (c == '|')
                out += name;
            else
                out += c;
        }
        return out;
    }
    return "Jet error " + std::to_string(number) + (name.empty() ? "" : " (" + name + ")") + ".";
}

void Raise(int number, const std::string& name) {
    throw JetError(number, ErrorText(number, name), name);
}

void RaiseWithDetail(int number, const std::string& name, const std::string& detail) {
    throw JetError(number, ErrorText(number, name) + " " + detail, name);
}

}  // namespace jet
