// The independent readers that judge the files the engine writes: mdbtools (mdb-tables,
// mdb-export, mdb-schema) and the npm package mdb-reader through Node (tests/node). They share
// no code with the engine. Each has a Have...() for the tests to skip without it.
#pragma once

#include <string>
#include <vector>

namespace jet::testkit {

// True when mdbtools is installed (mdb-tables, mdb-export and mdb-schema on PATH).
bool HaveMdbTools();

// The database's content as mdbtools reads it, in the format of the corpus's golden/ files:
// for each user table in byte order "=== TABLE <name> ===" and then the lines of
// `mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex` (header included),
// byte-sorted. A file mdbtools cannot read gives a text starting "<unreadable".
std::string MdbExportDump(const std::string& path);

// mdb-schema's output with its lines sorted (tables come out in storage order).
std::string SortedSchema(const std::string& path);

// mdb-tables -1 then mdb-export of every table, each under a time limit (mdbtools is not built
// for damaged input); false (with the failure in `why`) when one exits non-zero.
bool MdbToolsReadsEveryTable(const std::string& path, std::string& why);

// RFC 4180 records (quoted fields may hold commas, doubled quotes and line breaks).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);
// A table as mdb-export prints it: the header, then one record per row.
std::vector<std::vector<std::string>> ExportTable(const std::string& file,
                                                  const std::string& table);
// The values of one column of a table as mdb-export prints them, one per row.
std::vector<std::string> ExportColumn(const std::string& file, const std::string& table,
                                      const std::string& column);

// tests/node/dump_table.mjs when Node and mdb-reader (tests/node) are installed, else "".
std::string NodeOracleScript();
bool HaveNodeOracle();
// Every user table as mdb-reader reads it (tests/node/dump_database.mjs, rows sorted).
std::string NodeDump(const std::string& path, const std::string& password = {});

}  // namespace jet::testkit
