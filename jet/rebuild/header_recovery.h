// Page 0 for the repair: put right where it still reads (RestoredHeader), rebuilt from the
// rest of the file where it is lost (zeroed, torn, overwritten): Jet rewrites page 0 more
// often than any other page, so it is the page a crash most often leaves half written.
//
// Only the file's own evidence counts. A file is taken for a Jet database of version V when,
// at V's page size, page 1 is the global usage map (a data page owned by page 1), page 2 is a
// table definition that reads as the catalog (the columns of MSysObjects), and the pages in
// use are well formed. Then:
//   - version and page size are V's;
//   - the sort order is that of the catalog's text columns (Jet 4 gives each text column its
//     LCID and sort version, Jet 3 every column its LCID and code page); the code page is the
//     Jet 3 columns' or, in Jet 4, the one Windows pairs with the sort order's language;
//     where a definition gives nothing, General (1033) and 1252;
//   - no page encoding: the pages read in clear (pages encoded under a key that went with
//     page 0 read as noise, and are refused);
//   - the creation date is now (Jet 4), and the password the one the caller gave, if any.
// What page 0 alone held is gone for good: the password (unless given), the original creation
// date, the page key. Every choice is said in `fixes`.
#pragma once

#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/format/header.h"

namespace jet {

// Page 0 as the repair writes it: the fields that carry no information (the constant block at
// 0x18, the reserved zeros, the Jet 4 block at 0x98) put back to the values every Jet file
// has, and the users' commit words closed (CloseUserCommitWords); each change said in `fixes`.
DatabaseHeader RestoredHeader(const DatabaseHeader& source, std::vector<std::string>& fixes);

// True when the first bytes of the file are not the start of any database header: no page-0
// type byte or no engine name. A page 0 that names another engine or version (ACE) is not
// lost.
//
// ACE (.accdb) files share Jet 4's page layout; one whose page 0 is lost shows itself by its
// catalog, which names MSysComplexColumns (no Jet 4 file has it): RefuseAceCatalog.
bool PageZeroLost(Env* env, const std::string& path);

struct RecoveredHeader {
    DatabaseHeader header;           // decoded, as DecodeHeader gives it
    std::vector<std::string> fixes;  // what was chosen, and from what
};

// Page 0 rebuilt from the evidence above. Throws 3343 when the file does not show itself a
// Jet 3 / Jet 4 database at either page size (with the reason when its page 0 remains show a
// database whose pages are encoded); the file is only read.
RecoveredHeader RecoverHeader(Env* env, const std::string& path, const std::string& password);

// Throws 3343 when `table_name`, a table the catalog of a file with a rebuilt header names,
// shows the file to be an ACE database.
void RefuseAceCatalog(const std::string& table_name, const std::string& path);

}  // namespace jet
