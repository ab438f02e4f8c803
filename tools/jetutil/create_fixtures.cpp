// jetutil create-fixtures: writes the client fixtures tavo.mdb and tavo1.mdb.
#include <iostream>

#include "jet/base/env.h"
#include "jet/testing/fixtures.h"
#include "tools/jetutil/command.h"

namespace {

int Run(const std::vector<std::string>& args) {
    jet::Version version = jet::Version::kJet4;
    std::string folder;
    for (const auto& a : args) {
        if (a == "--jet3") {
            version = jet::Version::kJet3;
        } else if (a == "--jet4") {
            version = jet::Version::kJet4;
        } else if (folder.empty() && !a.empty() && a[0] != '-') {
            folder = a;
        } else {
            std::cerr << "jetutil create-fixtures: unexpected argument '" << a << "'\n";
            return 2;
        }
    }
    if (folder.empty()) {
        std::cerr << "usage: jetutil create-fixtures [--jet3|--jet4] DIR\n";
        return 2;
    }
    jet::CreateClientFixtures(jet::Env::Default(), folder, version);
    std::cout << folder << "/tavo.mdb\n" << folder << "/tavo1.mdb\n";
    return 0;
}

const jetutil::Registration kRegistration({
    "create-fixtures",
    "write the client fixtures tavo.mdb and tavo1.mdb",
    "usage: jetutil create-fixtures [--jet3|--jet4] DIR\n\n"
    "Writes DIR/tavo.mdb (table tavo, bloqueado Yes/No) and DIR/tavo1.mdb (bloqueado\n"
    "Integer), each with an id primary key, a nome column and five rows whose flags are\n"
    "No, Yes, No, Yes, No. Jet 4 unless --jet3. Existing files are replaced; DIR must exist.\n"
    "Prints the two paths.\n",
    Run,
});

}  // namespace
