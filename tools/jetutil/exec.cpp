// jetutil exec FILE STATEMENT: runs an UPDATE on a database opened in shared mode.
#include <iostream>

#include "jet/database/database.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--exclusive"});
    if (!opts.error().empty() || opts.positional().size() != 2) {
        std::cerr << (opts.error().empty() ? "" : opts.error() + "\n")
                  << "usage: jetutil exec [--exclusive] [--password PW] FILE STATEMENT\n";
        return 2;
    }
    jet::DatabaseOptions options;
    options.exclusive = opts.Has("--exclusive");
    options.password = opts.Value("--password");
    auto db = jet::Database::Open(jet::Env::Default(), opts.positional()[0], options);
    int64_t rows = db->Execute(opts.positional()[1]);
    db->Close();
    std::cout << rows << (rows == 1 ? " row" : " rows") << " updated\n";
    return 0;
}

const jetutil::Registration kExec({
    "exec",
    "run UPDATE <table> SET <column> = <value> on a database",
    "usage: jetutil exec [--exclusive] [--password PW] FILE STATEMENT\n"
    "\n"
    "Opens FILE in shared mode (joining its lock file, as Jet does; --exclusive opens it\n"
    "exclusively instead), runs STATEMENT and closes the database. The statement is\n"
    "  UPDATE <table> SET <column> = <value>\n"
    "with a whole number or True/False as the value; it applies to every row. Prints the\n"
    "number of rows updated. Errors print the Jet error number and text and exit 2.\n",
    Run,
});

}  // namespace
