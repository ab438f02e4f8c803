// QuemUsa: shows in ListLDB1 the users the lock file ArquivoLDB records as in the database,
// one line each, in the order the lock-file user library gives them. It handles no error: a
// failure ends it where it stands and reaches the caller, with the list holding what was added
// so far and the screen-wide pointer left as the hourglass.
#include "app/form1.h"
#include "dao/ldb_users.h"
#include "db/ver_ldb.h"

void Form1::QuemUsa() {
    Screen.SetMousePointer(vbHourglass);

    dao::StringArray Usuarios(0, 1);  // two empty entries; the library may change the bounds
    VerLDB::CaminhoLDB = ArquivoLDB;
    ListLDB1->Clear();
    DoEvents();

    dao::LDBUser_GetUsers(Arquivos().env(), Usuarios, VerLDB::CaminhoLDB, dao::kLdbLoggedOnUsers);

    // The users stand from the lowest index up; the first empty entry ends them.
    const int Inicio = Usuarios.LBound();
    const int Fim = Usuarios.UBound();
    for (int i = Inicio; i <= Fim; ++i) {
        if (Usuarios(i).empty()) break;
        ListLDB1->AddItem(Usuarios(i));
    }

    // Left so after the return: the arrow takes precedence over the window's own pointer.
    Screen.SetMousePointer(vbArrow);
}
