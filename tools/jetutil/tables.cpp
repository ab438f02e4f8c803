// jetutil tables FILE: the tables of a database, one per line.
#include <iostream>

#include "jet/read/table_reader.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--system", "--linked"});
    if (!opts.error().empty() || opts.positional().size() != 1) {
        std::cerr << "usage: jetutil tables [--system] [--linked] [--password PW] FILE\n";
        return 2;
    }
    auto db =
        jet::DatabaseView::Open(jet::Env::Default(), opts.positional()[0], opts.open_options());
    const bool system = opts.Has("--system");
    for (const jet::CatalogEntry& e : db->catalog().entries()) {
        if (e.is_local_table() && (system || !e.is_system())) std::cout << e.name << "\n";
        if (e.is_linked_table() && opts.Has("--linked")) std::cout << e.name << " (linked)\n";
    }
    return 0;
}

const jetutil::Registration kTables(
    {"tables", "list the tables of a database",
     "usage: jetutil tables [--system] [--linked] [--password PW] FILE\n\n"
     "Prints the names of the user tables, one per line, in catalog order.\n"
     "  --system    include system tables (MSys*, Access's own tables)\n"
     "  --linked    include linked tables, marked \" (linked)\"; they are not followed\n",
     Run});

}  // namespace
