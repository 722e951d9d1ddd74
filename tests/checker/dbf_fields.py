#!/usr/bin/env python3
"""Lists the fields of dBASE tables as an outside reader sees them.

Usage: dbf_fields.py DIRECTORY TABLE...
Prints one line per field, in table order: TABLE FIELD TYPE LENGTH DECIMALS
(TABLE is the file name up to its dot, upper-cased). Files are looked up
in DIRECTORY ignoring case.
"""
import os
import sys

import dbfread


def find(directory, name):
    for entry in os.listdir(directory):
        if entry.lower() == name.lower():
            return os.path.join(directory, entry)
    raise SystemExit("missing table file: " + name)


def main():
    directory = sys.argv[1]
    for name in sys.argv[2:]:
        table = dbfread.DBF(find(directory, name), load=False, ignore_missing_memofile=True)
        base = name.split(".")[0].upper()
        for field in table.fields:
            print(base, field.name, field.type, field.length, field.decimal_count)


if __name__ == "__main__":
    main()
