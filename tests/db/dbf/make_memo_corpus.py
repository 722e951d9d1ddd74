#!/usr/bin/env python3
"""Writes the memo files of corpus/ whose header does not hold, each beside a
sound table (NOM C(10), TXT M: three records pointing at blocks 1, 2 and 3,
or 6, 7 and 8 for memo-cut):
  memo-zeros      a memo file of zeros;
  memo-blocksize  memos in blocks of 1024 bytes, the header's block size
                  0xFFFF (the repair finds 1024 again);
  memo-short      a memo file shorter than its header;
  memo-cut        a sound header on a file cut before the blocks the
                  records point to (it opens; no new memo goes there)."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')


def table(blocks):
    header = bytearray(32)
    header[0] = 0x8B
    header[1:4] = bytes([124, 1, 1])
    header[4:8] = struct.pack('<I', len(blocks))
    header[8:10] = struct.pack('<H', 32 + 2 * 32 + 1)
    header[10:12] = struct.pack('<H', 1 + 10 + 10)
    header[29] = 0x57
    for name, kind in ((b'NOM', b'C'), (b'TXT', b'M')):
        d = bytearray(32)
        d[0:len(name)] = name
        d[11:12] = kind
        d[16] = 10
        header += d
    header += b'\x0D'
    for i, b in enumerate(blocks):
        header += b' ' + ('nom %d' % (i + 1)).encode().ljust(10) + str(b).rjust(10).encode()
    return bytes(header + b'\x1A')


def memo(text, block_size):
    body = b'\xFF\xFF\x08\x00' + struct.pack('<I', len(text) + 8) + text + b'\x1F'
    return body.ljust(-(-len(body) // block_size) * block_size, b'\x00')


def memo_file(block_size, stated, texts, next_free=None):
    data = b''.join(memo(t, block_size) for t in texts)
    blocks = 1 + len(data) // block_size
    h = bytearray(block_size)
    h[0:4] = struct.pack('<I', blocks if next_free is None else next_free)
    h[8:12] = b'MEMO'
    h[20:22] = struct.pack('<H', stated)
    return bytes(h) + data


def write(name, dbf, dbt):
    with open(os.path.join(HERE, name + '.dbf'), 'wb') as f:
        f.write(dbf)
    with open(os.path.join(HERE, name + '.dbt'), 'wb') as f:
        f.write(dbt)


TEXTS = [b'un', b'deux', b'trois']
write('memo-zeros', table([1, 2, 3]), bytes(2048))
write('memo-blocksize', table([1, 2, 3]), memo_file(1024, 0xFFFF, TEXTS))
write('memo-short', table([1, 2, 3]), memo_file(512, 512, TEXTS)[:300])
write('memo-cut', table([6, 7, 8]), memo_file(512, 512, TEXTS, next_free=4))
