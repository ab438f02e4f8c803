// VerLDB: the module that carries the lock file's path to the lock-file user library. It has
// no procedures. QuemUsa copies the path into it just before the library call, and the
// library's copy of the path is written back into it just after; nothing else reads it.
#pragma once

#include <string>

namespace VerLDB {

inline std::string CaminhoLDB;  // the lock file's full path

}  // namespace VerLDB
