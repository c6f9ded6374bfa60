#!/usr/bin/env node
// Prints one table of a Jet file as read by mdb-reader, an independent
// reader, for the tests' cross-checks: one JSON array per row, values in
// column order (dates as ISO-8601, binary as 0x-hex, big numbers as text).
//
//   node dump.mjs FILE TABLE
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, wanted] = process.argv.slice(2);
if (!file || !wanted) {
  process.stderr.write("usage: node dump.mjs FILE TABLE\n");
  process.exit(2);
}
const reader = new MDBReader(readFileSync(file));
const name = reader.getTableNames().find((n) => n.toLowerCase() === wanted.toLowerCase());
if (name === undefined) {
  process.stderr.write(`no table ${wanted} in ${file}\n`);
  process.exit(3);
}
const table = reader.getTable(name);
const columns = table.getColumnNames();
const show = (v) => {
  if (v === null || v === undefined) return null;
  if (v instanceof Date) return v.toISOString();
  if (v instanceof Uint8Array) return "0x" + Buffer.from(v).toString("hex");
  if (typeof v === "bigint") return v.toString();
  return v;
};
let out = "";
for (const row of table.getData()) out += JSON.stringify(columns.map((c) => show(row[c]))) + "\n";
process.stdout.write(out);
