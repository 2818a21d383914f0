#!/usr/bin/env python3
"""Makes the hostile sources the readers must refuse or read within bounds: workbooks, text
files and dBase tables whose declared sizes lie or whose content is oversized.
   gen-hostile.py OUTDIR [--small]
--small makes each of them at a size fit for a fuzz corpus (same shape, a few KiB)."""
import os
import struct
import sys
import zipfile

out = sys.argv[1]
small = "--small" in sys.argv
os.makedirs(out, exist_ok=True)

NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def col_name(i):
    s = ""
    i += 1
    while i:
        i, r = divmod(i - 1, 26)
        s = chr(65 + r) + s
    return s


def xlsx(name, rows, dimension=None):
    """rows: an iterable of row XML strings (without the row element's wrapper)."""
    with zipfile.ZipFile(os.path.join(out, name), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/'
                   'package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-'
                   'officedocument.spreadsheetml.sheet.main+xml"/></Types>')
        z.writestr("_rels/.rels",
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="' + REL + '/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>')
        z.writestr("xl/workbook.xml",
                   '<workbook ' + NS + ' xmlns:r="' + REL + '"><sheets><sheet name="Prices" '
                   'sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="' + REL + '/worksheet" Target="worksheets/sheet1.xml"/>'
                   '</Relationships>')
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
            f.write(('<?xml version="1.0" encoding="UTF-8"?><worksheet ' + NS + '>').encode())
            if dimension:
                f.write(('<dimension ref="%s"/>' % dimension).encode())
            f.write(b"<sheetData>")
            for n, cells in enumerate(rows, 1):
                f.write(('<row r="%d">' % n).encode() + cells.encode() + b"</row>")
            f.write(b"</sheetData></worksheet>")


def header_cells():
    return ('<c t="inlineStr"><is><t>Part</t></is></c><c t="inlineStr"><is><t>Desc</t></is></c>'
            '<c t="inlineStr"><is><t>Price</t></is></c><c t="inlineStr"><is><t>Cost</t></is></c>')


def data_cells(n):
    return ('<c t="inlineStr"><is><t>P-%d</t></is></c><c t="inlineStr"><is><t>part %d</t></is></c>'
            '<c><v>%d.25</v></c><c><v>%d.5</v></c>' % (n, n, n, n))


# 5,000 rows of 16,384 numbers each: refused at the first row.
wide_rows, wide_cols = (5, 300) if small else (5000, 16384)
wide = "<c><v>1</v></c>" * wide_cols
xlsx("wide-rows.xlsx", (wide for _ in range(wide_rows)))

# Rows of four values padded out with empty styled cells to the last column, XFD (120 MB of
# XML for 500 rows).
pad_rows, pad_to = (5, 400) if small else (500, 16384)
pad = "".join('<c r="%s1" s="0"/>' % col_name(i) for i in range(4, pad_to))


def padded():
    yield header_cells() + pad
    for n in range(1, pad_rows):
        yield data_cells(n) + pad


xlsx("padded-rows.xlsx", padded())
# The same with a value in the last column, 5,000 rows: too wide, refused at the first row.
xlsx("padded-value.xlsx", (header_cells() + pad + '<c r="%s1"><v>0</v></c>' % col_name(pad_to - 1)
                           for _ in range(pad_rows if small else 5000)))
# A dimension of the whole sheet over two rows of four values.
xlsx("dimension-lie.xlsx", iter([header_cells(), data_cells(1)]), "A1:XFD1048576")

# ---- .xls: a compound file (4096-byte sectors) around a BIFF8 workbook stream -----------


def rec(rid, body):
    return struct.pack("<HH", rid, len(body)) + body


def biff_bof(kind):
    return rec(0x0809, struct.pack("<HH", 0x0600, kind) + bytes(12))


def xls(name, rows, cols):
    globals_ = biff_bof(0x0005)
    sheet_name = b"Prices"
    bound = lambda off: rec(0x0085, struct.pack("<IBBBB", off, 0, 0, len(sheet_name), 0) + sheet_name)
    eof = rec(0x000A, b"")
    sheet_at = len(globals_) + len(bound(0)) + len(eof)
    parts = [globals_, bound(sheet_at), eof, biff_bof(0x0010)]
    for r in range(rows):
        body = struct.pack("<HH", r, 0)
        body += b"".join(struct.pack("<HI", 0, ((r * 7 + c) << 2) | 2) for c in range(cols))
        parts.append(rec(0x00BD, body + struct.pack("<H", cols - 1)))
    parts.append(eof)
    stream = b"".join(parts)
    ss = 4096
    n = (len(stream) + ss - 1) // ss
    fat_sectors = 1
    while fat_sectors * (ss // 4) < fat_sectors + 1 + n:
        fat_sectors += 1
    assert fat_sectors <= 109
    hdr = bytes.fromhex("D0CF11E0A1B11AE1") + bytes(16)
    hdr += struct.pack("<HHHHH", 0x3E, 4, 0xFFFE, 12, 6) + bytes(6)
    hdr += struct.pack("<IIIIIIIII", 1, fat_sectors, fat_sectors, 0, 4096, 0xFFFFFFFE, 0,
                       0xFFFFFFFE, 0)
    hdr += b"".join(struct.pack("<I", i if i < fat_sectors else 0xFFFFFFFF) for i in range(109))
    hdr = hdr.ljust(ss, b"\0")
    fat = [0xFFFFFFFD] * fat_sectors + [0xFFFFFFFE]
    first = fat_sectors + 1
    fat += [first + i + 1 if i + 1 < n else 0xFFFFFFFE for i in range(n)]
    fat += [0xFFFFFFFF] * (fat_sectors * (ss // 4) - len(fat))

    def entry(nm, typ, start, size, child=0xFFFFFFFF):
        e = nm.encode("utf-16-le").ljust(64, b"\0")
        e += struct.pack("<HBB", (len(nm) + 1) * 2 if nm else 0, typ, 1)
        e += struct.pack("<III", 0xFFFFFFFF, 0xFFFFFFFF, child)
        e = e.ljust(116, b"\0") + struct.pack("<IQ", start, size)
        return e

    d = entry("Root Entry", 5, 0xFFFFFFFE, 0, 1) + entry("Workbook", 2, first, len(stream))
    d = d.ljust(ss, b"\0")
    with open(os.path.join(out, name), "wb") as f:
        f.write(hdr)
        f.write(b"".join(struct.pack("<I", v) for v in fat))
        f.write(d)
        f.write(stream.ljust(n * ss, b"\0"))


xls_rows = 4 if small else 65536
xls("numbers-65536x255.xls", xls_rows, 255)
xls("columns-256.xls", xls_rows, 256)

# ---- text -------------------------------------------------------------------------------
with open(os.path.join(out, "long-line.csv"), "wb") as f:
    chunk = b"x" * (1 << 20)
    for _ in range(1 if small else 200):
        f.write(chunk[: 4096] if small else chunk)
with open(os.path.join(out, "million-columns.csv"), "wb") as f:
    f.write(b"a," * (300 if small else 1000000) + b"a\r\n1,2\r\n")
with open(os.path.join(out, "cr-only.csv"), "wb") as f:
    f.write(b"\r")
with open(os.path.join(out, "nul.csv"), "wb") as f:
    f.write(b"Part,Desc,Price,Cost\r\nP-1\0,pa\0rt,1.25,0.5\r\n\0\0\0\0")
with open(os.path.join(out, "utf16.csv"), "wb") as f:
    f.write(b"\xff\xfe" + "Part,Desc,Price,Cost\r\nP-1,\u00e9t\u00e9,1.25,0.5\r\n".encode("utf-16-le"))

# ---- dBase III tables with a memo file ----------------------------------------------------


def dbf(name, records, count=None, record_length=None, header_length=None, memo_block=None):
    fields = [(b"PART", b"C", 10, 0), (b"DESC", b"C", 20, 0), (b"PRICE", b"N", 10, 2),
              (b"COST", b"N", 10, 2), (b"NOTE", b"M", 10, 0)]
    rl = 1 + sum(f[2] for f in fields)
    hl = 32 + 32 * len(fields) + 1
    h = struct.pack("<BBBBIHH", 0x83, 126, 12, 9, len(records) if count is None else count,
                    hl if header_length is None else header_length,
                    rl if record_length is None else record_length).ljust(32, b"\0")
    for nm, t, ln, dec in fields:
        h += nm.ljust(11, b"\0") + t + bytes(4) + bytes([ln, dec]) + bytes(14)
    h += b"\r"
    body = b""
    memo = bytearray(512)
    for i, (part, desc, price, cost, note) in enumerate(records):
        block = len(memo) // 512
        memo += (note.encode() + b"\x1a\x1a").ljust(512, b"\0")
        ptr = memo_block if (memo_block is not None and i == 0) else block
        body += b" " + part.encode().ljust(10) + desc.encode().ljust(20) + \
            ("%10.2f" % price).encode() + ("%10.2f" % cost).encode() + ("%10d" % ptr).encode()
    struct.pack_into("<I", memo, 0, len(memo) // 512)
    base = os.path.join(out, name)
    with open(base + ".dbf", "wb") as f:
        f.write(h + body + b"\x1a")
    with open(base + ".dbt", "wb") as f:
        f.write(memo)


recs = [("P-%d" % i, "part %d" % i, i + 0.25, i + 0.5, "note %d" % i) for i in range(1, 4)]
dbf("count-lie", recs, count=1000000000)
dbf("length-lie", recs, record_length=65535)
dbf("header-lie", recs, header_length=65535)
dbf("memo-past-end", recs, memo_block=99999999)
