// The lock-file user library: who is in a database, read from its lock file (.ldb) by the
// engine's lock-file reader (jet/database/lock_file.h).
//
// The library works on 8-bit strings in the system's ANSI code page (Windows-1252): the user
// buffer it fills and the lock-file path it is given. The system keeps its text in UTF-8, so
// it calls the library through LDBUser_GetUsers below, which converts the buffer's entries and
// the path to the code page before the call and back afterwards, as a declared library
// function's string arguments are converted.
//
// The buffer contract: after a call the users' entries stand in the buffer from its lowest
// index upward, followed by an empty entry or the end of the array. The library keeps the
// buffer's lower bound, fills its entries in order, empties the entries after the last user,
// and gives the buffer more entries when the users do not fit. Each entry is the computer name
// that the user's record in the lock file carries.
#pragma once

#include <string>

#include "dao/string_array.h"
#include "jet/base/env.h"

namespace dao {

// What the option number selects.
enum LdbUserOptions : int {
    kLdbAllUsers = 1,       // every user recorded in the lock file, live or not
    kLdbLoggedOnUsers = 2,  // only the users in the database now (their slot is held)
    kLdbCorruptUsers = 4,   // the users that left the database marked suspect: none are known
    kLdbUserCount = 8,      // only the number of users in the database now; buffer untouched
};

// Results other than a count.
enum LdbUserResult : int {
    kLdbInvalidOption = -1,
    kLdbCannotRead = -2,  // the lock file exists but could not be read
};

// The library's entry point, on ANSI strings: fills `users` for the lock file at `ansi_path`
// according to `options` and returns the number of users, or a negative LdbUserResult. A
// missing lock file has no users. Raises nothing for a lock file it cannot read.
int LdbUserGetUsersAnsi(jet::Env* env, StringArray& users, std::string& ansi_path, int options);

// The system's call into the library: `users` and `path` in UTF-8, converted to Windows-1252
// for the call and back after it (a character the code page lacks becomes '?'). The path is
// passed by value to the library; the library's copy, converted back, is stored into `path`.
int LDBUser_GetUsers(jet::Env* env, StringArray& users, std::string& path, int options);

}  // namespace dao
