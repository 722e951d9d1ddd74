#!/usr/bin/env python3
"""Writes the seed journals of journal-corpus/: journals of the table the
fuzz target and the corpus test make (J.DBF: CODE C(6), NUM N(4), eight
records), whole and damaged. Each file starts with the target's selector
byte (0: the table without an index, 1: with one), then the journal."""
import os
import struct

HEADER_LEN = 32 + 2 * 32 + 1
RECORD_LEN = 1 + 6 + 4


def fnv(data):
    h = 0xcbf29ce484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def record(code, num, flag=b' '):
    return flag + code.encode().ljust(6) + str(num).rjust(4).encode()


def journal(images, header_len=HEADER_LEN, record_len=RECORD_LEN, count=8, n=None):
    body = b'KJNL' + struct.pack('<HHII', header_len, record_len, count, len(images) if n is None else n)
    for rec_no, rec in images:
        body += struct.pack('<I', rec_no) + rec
    return body + struct.pack('<Q', fnv(body))


def write(name, data, selector=0):
    with open(os.path.join(os.path.dirname(__file__), 'journal-corpus', name), 'wb') as f:
        f.write(bytes([selector]) + data)


whole = journal([(2, record('OLD2', 20)), (4, record('OLD4', 40)), (7, record('OLD7', 70, b'*'))])
write('whole.jnl', whole)
write('whole-indexed.jnl', whole, 1)
write('cut.jnl', whole[:-5])
write('header-only.jnl', whole[:16])
bad = bytearray(whole)
bad[20] ^= 0x40
write('bad-sum.jnl', bytes(bad))
write('other-shape.jnl', journal([(2, record('OLD2', 20) + b'X')], record_len=RECORD_LEN + 1))
write('other-header.jnl', journal([(2, record('OLD2', 20))], header_len=HEADER_LEN + 32))
write('past-count.jnl', journal([(99, record('OLD9', 90)), (0, record('OLD0', 0)), (3, record('OLD3', 30))]))
write('claims-many.jnl', journal([(2, record('OLD2', 20))], n=0xFFFFFFFF))
write('empty.jnl', b'')
write('foreign.jnl', b'\x03\x7b\x0c\x07' + bytes(60))
