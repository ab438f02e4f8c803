// The classes OQueFazer (db/o_que_fazer.cpp) sorts the main database into by trying to open
// it, as the codes it returns. The pre-flight ends the program on the last two; the
// maintenance repairs the first before compacting it and only compacts the second.
#pragma once

#include <cstdint>

enum ClasseBanco : int32_t {
    kClasseReparar = 1,      // opened, or a format the engine does not recognise (3343)
    kClasseSoCompactar = 2,  // the database is at its maximum size (3036)
    kClasseDiscoCheio = 3,   // the disk is full (61)
    kClasseOutroErro = 4,    // any other failure
};
