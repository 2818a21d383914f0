// Reads a dBase table with SheetJS (an independent reader) and prints its rows as JSON:
// the first row holds the field names, dates come as "YYYY-MM-DD" (or with a time).
// Usage: node sheetjs_read_dbf.js TABLE.dbf   (NODE_PATH must reach the xlsx module)
const XLSX = require("xlsx");
const fs = require("fs");
const buf = fs.readFileSync(process.argv[2]);
const wb = XLSX.read(buf, { type: "buffer", cellDates: true, codepage: 1252 });
const ws = wb.Sheets[wb.SheetNames[0]];
const rows = XLSX.utils.sheet_to_json(ws, { header: 1, raw: true, defval: null });
const pad = (n) => String(n).padStart(2, "0");
const out = rows.map((r) =>
  r.map((v) => {
    if (v instanceof Date) {
      const d = `${v.getUTCFullYear()}-${pad(v.getUTCMonth() + 1)}-${pad(v.getUTCDate())}`;
      const t = `${pad(v.getUTCHours())}:${pad(v.getUTCMinutes())}:${pad(v.getUTCSeconds())}`;
      return t === "00:00:00" ? d : `${d} ${t}`;
    }
    return v;
  })
);
process.stdout.write(JSON.stringify(out));
