// Rows read back with the engine's own reader, and rows as exact bytes, for comparing a file
// with what was written or with another file.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/read/table_reader.h"

namespace jet::testkit {

// A row's values as exact bytes: for each value its form, then its bytes (strings and blobs
// with their lengths). Two rows are equal when their images are.
std::string RowImage(const Row& row);

// Every live row of a table.
std::vector<Row> ReadBack(const std::string& path, const std::string& table);

// Every table's rows (system tables included) as exact images (RowImage), by table name, read
// as `scan` says.
std::map<std::string, std::multiset<std::string>> AllRowImages(const std::string& path,
                                                               const std::string& password = {},
                                                               const ScanOptions& scan = {});

}  // namespace jet::testkit
