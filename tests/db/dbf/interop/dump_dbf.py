"""Prints a table read with the dbf module as JSON: fields and live records."""
import datetime
import json
import sys

import dbf


def plain(v):
    if v is None:
        return None
    if isinstance(v, (datetime.date, datetime.datetime)):
        return v.isoformat()
    if isinstance(v, dbf.Date):
        return v.isoformat() if v else None
    if isinstance(v, bool):
        return v
    if type(v).__name__ in ("Logical",):
        return None if v is dbf.Unknown else bool(v)
    if isinstance(v, str):
        return v.rstrip()
    return v


table = dbf.Table(sys.argv[1], codepage="cp1252")
table.open(dbf.READ_ONLY)
fields = []
for name in table.field_names:
    info = table.field_info(name)
    fields.append([name.upper(), chr(info.field_type) if isinstance(info.field_type, int) else str(info.field_type),
                   info.length, info.decimal])
records = []
for rec in table:
    if dbf.is_deleted(rec):
        continue
    records.append([plain(rec[name]) for name in table.field_names])
table.close()
print(json.dumps({"fields": fields, "records": records}))
