// jetutil info FILE: the header of a database and a summary of its catalog.
#include <iomanip>
#include <iostream>

#include "jet/format/text_codec.h"
#include "jet/read/table_reader.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args);
    if (opts.positional().size() != 1) {
        std::cerr << "usage: jetutil info [--password PW] FILE\n";
        return 2;
    }
    auto db =
        jet::DatabaseView::Open(jet::Env::Default(), opts.positional()[0], opts.open_options());
    jet::MdbFile& f = db->file();
    const jet::DatabaseHeader& h = f.header();
    std::cout << "file: " << f.path() << "\n"
              << "version: " << (f.version() == jet::Version::kJet3 ? "Jet 3" : "Jet 4") << "\n"
              << "engine name: " << h.engine_name << "\n"
              << "page size: " << f.page_size() << "\n"
              << "pages: " << f.page_count() << "\n"
              << "code page: " << h.code_page << "\n"
              << "sort order: " << h.sort_order;
    if (f.version() == jet::Version::kJet4) std::cout << " (version " << int{h.sort_version} << ")";
    std::cout << "\n";
    if (f.version() == jet::Version::kJet4)
        std::cout << "creation date: " << std::setprecision(17) << h.creation_date << "\n";
    std::cout << "encrypted pages: " << (f.encrypted() ? "yes" : "no") << "\n"
              << "password: " << (h.password.empty() ? "no" : "yes") << "\n";
    size_t user = 0, system = 0, linked = 0, other = 0;
    for (const jet::CatalogEntry& e : db->catalog().entries()) {
        if (e.is_local_table())
            (e.is_system() ? system : user)++;
        else if (e.is_linked_table())
            linked++;
        else
            other++;
    }
    std::cout << "user tables: " << user << "\nsystem tables: " << system
              << "\nlinked tables: " << linked << "\nother objects: " << other << "\n";
    return 0;
}

const jetutil::Registration kInfo({"info", "show the header and a catalog summary",
                                   "usage: jetutil info [--password PW] FILE\n\n"
                                   "Prints the version, page size and count, code page, sort "
                                   "order, creation date (Jet 4),\nwhether pages are encrypted "
                                   "and whether a password is set, and counts of user,\nsystem "
                                   "and linked tables and other catalog objects.\n",
                                   Run});

}  // namespace
