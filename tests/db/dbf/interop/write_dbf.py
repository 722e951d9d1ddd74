"""Writes a dBASE III table (with its memo file) with the dbf module: accents, a memo, numbers,
a date, a logical, one deleted record."""
import datetime
import sys

import dbf

table = dbf.Table(sys.argv[1], "NOM C(20); DN D; NB N(6,0); PRIX N(8,2); OK L; NOTE M",
                  dbf_type="db3", codepage="cp1252")
table.open(dbf.READ_WRITE)
table.append(("Hélène Müller", datetime.date(1960, 10, 7), 42, -12.5, True, "Première ligne\r\nsuite é"))
table.append(("Zoé", None, None, 0.25, False, ""))
table.append(("supprimé", datetime.date(2001, 1, 2), 7, 1.0, None, "x"))
dbf.delete(table[2])
table.close()
