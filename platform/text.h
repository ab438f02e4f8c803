// Text services of the runtime. The system keeps its strings in UTF-8; the runtime's string
// functions count characters the way VB does (UTF-16 code units), and text files are written
// in the Windows ANSI code page, Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `utf8` in Windows-1252. A character the code page lacks, or a byte that is not valid
// UTF-8, becomes '?', as Windows does for a character it cannot convert.
std::string ToCp1252(std::string_view utf8);

// VB's Len: the number of characters (UTF-16 code units) of `utf8`.
long Len(std::string_view utf8);

// VB's Left: the first `length` characters of `utf8`, the whole text when it is shorter.
// REQUIRES: nothing; a negative length raises error 5, as VB does.
std::string Left(std::string_view utf8, long length);

}  // namespace platform
