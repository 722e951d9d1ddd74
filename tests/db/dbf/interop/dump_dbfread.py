"""Prints a table read with dbfread as JSON: fields and live records."""
import datetime
import json
import sys

import dbfread


def plain(v):
    if isinstance(v, (datetime.date, datetime.datetime)):
        return v.isoformat()
    if isinstance(v, bytes):
        return v.decode("cp1252")
    return v


table = dbfread.DBF(sys.argv[1], encoding="cp1252", char_decode_errors="strict")
out = {
    "fields": [[f.name, f.type, f.length, f.decimal_count] for f in table.fields],
    "records": [[plain(v) for v in rec.values()] for rec in table],
}
print(json.dumps(out))
