// Prints every user table of an .mdb file as mdb-reader (an independent implementation of the
// format) reads it, in one run, for tests that compare two files:
//   node dump_database.mjs FILE [PASSWORD]
// Tables in byte order of their names, each as "=== <name>", a line of column names, then one
// line per row with the rows sorted, so row order does not matter. Fields as dump_table.mjs.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, password] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file), password ? { password } : undefined);
const field = (v) => {
  if (v === null || v === undefined) return "null";
  if (v instanceof Date) return Number.isNaN(v.getTime()) ? "invalid date" : v.toISOString();
  if (Buffer.isBuffer(v)) return v.toString("hex");
  if (typeof v === "string") return JSON.stringify(v);
  return String(v);
};
const byBytes = (a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b));
const out = [];
for (const name of [...reader.getTableNames()].sort(byBytes)) {
  const table = reader.getTable(name);
  const names = table.getColumnNames();
  out.push(`=== ${name}`, names.join("\t"));
  const rows = table.getData().map((row) => names.map((n) => field(row[n])).join("\t"));
  out.push(...rows.sort(byBytes));
}
console.log(out.join("\n"));
