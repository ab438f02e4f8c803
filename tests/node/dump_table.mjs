// Prints the rows of one table of an .mdb file, read with mdb-reader (an independent
// implementation of the format), so tests can compare them with the rows they wrote.
//   node dump_table.mjs FILE          -> the user tables, one name per line
//   node dump_table.mjs FILE TABLE    -> a line of column names, then one line per row
// Fields are separated by tabs. Text is JSON-quoted; numbers and booleans as JavaScript prints
// them; null as null; dates as ISO 8601 (UTC); binary as lowercase hex.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, tableName] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
if (!tableName) {
  for (const name of reader.getTableNames()) console.log(name);
  process.exit(0);
}
const table = reader.getTable(tableName);
const names = table.getColumnNames();
const out = [names.join("\t")];
for (const row of table.getData()) {
  out.push(
    names
      .map((name) => {
        const v = row[name];
        if (v === null || v === undefined) return "null";
        if (v instanceof Date) return Number.isNaN(v.getTime()) ? "invalid date" : v.toISOString();
        if (Buffer.isBuffer(v)) return v.toString("hex");
        if (typeof v === "string") return JSON.stringify(v);
        return String(v);
      })
      .join("\t"),
  );
}
console.log(out.join("\n"));
