#!/usr/bin/env python3
"""Writes the kept corpus of table files (corpus/), built by hand from the
published layout of the format, independently of the engine's writer.

valid-<what>-<n>.DB   opens and holds n live records
bad-<what>.DB         must be refused with an engine error
Run again only to regenerate the files; the tests read the kept copies."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

LENGTHS = {0x01: None, 0x02: 4, 0x03: 2, 0x04: 4, 0x05: 8, 0x06: 8, 0x09: 1,
           0x0C: None, 0x14: 4, 0x15: 8, 0x16: 4, 0x17: 17}


def flen(code, size):
    return size if LENGTHS[code] is None else LENGTHS[code]


def header(fields, version, name_slot, header_size=0x800, block_kib=1, file_type=2):
    v4 = version >= 5
    n = len(fields)
    rec = sum(flen(c, s) for _, c, s in fields)
    h = bytearray(header_size)
    struct.pack_into("<HHBB", h, 0, rec, header_size, file_type, block_kib)
    struct.pack_into("<H", h, 0x21, n)
    h[0x39] = version
    if v4:
        struct.pack_into("<I", h, 0x25, 0xFF00FF00)
        struct.pack_into("<HH", h, 0x58, 0x100 | version, 0x100 | version)
        struct.pack_into("<HHH", h, 0x64, n + 1, 0, n)
        struct.pack_into("<H", h, 0x6A, 0x04E4)
    pos = 0x78 if v4 else 0x58
    for _, c, s in fields:
        h[pos] = c
        h[pos + 1] = s
        pos += 2
    pos += 4 + 4 * n
    h[pos:pos + 7] = b"CORPUS\0"
    pos += name_slot
    for name, _, _ in fields:
        b = name.encode("cp1252") + b"\0"
        h[pos:pos + len(b)] = b
        pos += len(b)
    for i in range(n):
        struct.pack_into("<H", h, pos, i + 1)
        pos += 2
    h[pos:pos + 6] = b"ascii\0"
    return h, rec


def enc_value(code, size, v):
    L = flen(code, size)
    if v is None:
        return bytes(L)
    if code == 0x01:
        b = v.encode("cp1252")[:L]
        return b + bytes(L - len(b))
    if code in (0x03,):
        return struct.pack(">H", (v & 0xFFFF) ^ 0x8000)
    if code in (0x02, 0x04, 0x14, 0x16):
        return struct.pack(">I", (v & 0xFFFFFFFF) ^ 0x80000000)
    if code in (0x05, 0x06, 0x15):
        bits = struct.unpack(">Q", struct.pack(">d", float(v)))[0]
        bits = (~bits & 0xFFFFFFFFFFFFFFFF) if bits >> 63 else bits | (1 << 63)
        return struct.pack(">Q", bits)
    if code == 0x09:
        return bytes([0x81 if v else 0x80])
    if code == 0x17:  # (digits text, decimals), positive only
        digits, dec = v
        d = digits.rjust(32, "0")
        out = bytearray([0x80 | 0x40 | dec])
        for i in range(16):
            out.append((int(d[2 * i]) << 4) | int(d[2 * i + 1]))
        return bytes(out)
    if code == 0x0C:  # memo text kept in the leader
        t = v.encode("cp1252")
        lead = size - 10
        return t[:lead] + bytes(lead - len(t[:lead])) + struct.pack("<IIH", 0, len(t), 1)
    raise ValueError(code)


def table(fields, rows, version, name_slot, header_size=0x800, block_kib=1, per_block=None, order=None,
          empty_blocks=(), file_type=2):
    h, rec = header(fields, version, name_slot, header_size, block_kib, file_type)
    bs = block_kib * 1024
    cap = (bs - 6) // rec
    per = per_block or cap
    chunks = [rows[i:i + per] for i in range(0, len(rows), per)]
    for at in empty_blocks:
        chunks.insert(at, [])
    nblocks = len(chunks)
    phys = order or list(range(1, nblocks + 1))  # physical block number of each chain entry
    blocks = {}
    for i, chunk in enumerate(chunks):
        nxt = phys[i + 1] if i + 1 < nblocks else 0
        prv = phys[i - 1] if i > 0 else 0
        body = b"".join(b"".join(enc_value(c, s, v) for (_, c, s), v in zip(fields, r)) for r in chunk)
        b = struct.pack("<HHh", nxt, prv, (len(chunk) - 1) * rec) + body
        blocks[phys[i]] = b + bytes(bs - len(b))
    struct.pack_into("<I", h, 0x06, len(rows))
    struct.pack_into("<HHHH", h, 0x0A, nblocks, nblocks, phys[0] if nblocks else 0, phys[-1] if nblocks else 0)
    struct.pack_into("<H", h, 0x3A, nblocks)
    data = bytearray(h)
    for n in range(1, nblocks + 1):
        data += blocks[n]
    return data


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(HERE, exist_ok=True)
    # 3.0 layout: no header extension, names after a 79-byte name slot; the
    # chain visits the blocks in another order than they lie in the file.
    f3 = [("NOM", 0x01, 12), ("AGE", 0x03, 2), ("PRIX", 0x06, 8), ("DN", 0x02, 4)]
    rows3 = [("Patient %02d" % i, i - 5, i * 1.5, 728783 + i) for i in range(30)]
    write("valid-v3-chain-order-30.DB", table(f3, rows3, 3, 79, per_block=12, order=[2, 3, 1]))

    # 7.x layout, 4 KiB header, 261-byte name slot, later field types.
    f7 = [("CODE", 0x16, 4), ("MONTANT", 0x05, 8), ("OK", 0x09, 1), ("HEURE", 0x14, 4),
          ("QUAND", 0x15, 8), ("TAUX", 0x17, 2), ("NOTE", 0x0C, 20), ("LIB", 0x01, 20)]
    rows7 = [(i + 1, 10.25 * i, i % 2 == 0, 3600000 * (i % 24), (731410 + i) * 86400000.0,
              ("%d" % (100 + i), 2), "memo %d" % i, "Libellé %d" % i) for i in range(25)]
    write("valid-v7-header4k-25.DB", table(f7, rows7, 12, 261, header_size=0x1000, block_kib=2))
    # The same with the 271-byte name slot that one description gives.
    write("valid-v7-slot271-25.DB", table(f7, rows7, 12, 271, header_size=0x1000, block_kib=2))

    # An empty block inside the chain, and header counts that lie.
    fa = [("TXT", 0x01, 30)]
    rowsa = [("ligne %d" % i,) for i in range(20)]
    write("valid-empty-block-20.DB", table(fa, rowsa, 9, 79, per_block=8, empty_blocks=(1,)))
    lying = table(fa, rowsa, 9, 79, per_block=8)
    struct.pack_into("<I", lying, 0x06, 999999)
    struct.pack_into("<H", lying, 0x0C, 1)
    write("valid-counts-lie-20.DB", lying)
    write("valid-no-block-0.DB", table(fa, [], 9, 79))

    # Refused files.
    loop = table(fa, rowsa, 9, 79, per_block=8)
    struct.pack_into("<H", loop, 0x800 + 2 * 1024, 1)  # block 3 -> block 1
    write("bad-loop.DB", loop)
    write("bad-truncated.DB", table(fa, rowsa, 9, 79, per_block=8)[:0x800 + 1500])
    badnames = table(fa, rowsa, 9, 79)
    badnames[0x78 + 2 + 4 + 4 + 79] = 0
    write("bad-names.DB", badnames)
    badsize = table(fa, rowsa, 9, 79)
    struct.pack_into("<H", badsize, 0, 31)
    write("bad-record-size.DB", badsize)
    badcount = table(fa, rowsa, 9, 79)
    struct.pack_into("<h", badcount, 0x800 + 4, 30 * 40)
    write("bad-block-count.DB", badcount)
    write("bad-index-file.DB", table(fa, rowsa, 9, 79, file_type=1))


if __name__ == "__main__":
    main()
