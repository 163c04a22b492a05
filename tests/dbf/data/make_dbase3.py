#!/usr/bin/python3
"""Writes a dBase III table with a memo file using python3-dbf, and prints the expected values as JSON."""
import datetime
import json
import sys

import dbf

path = sys.argv[1]
layout = 'X_APE1 C(15); N_DOC N(10,0); N_IMP N(8,2); F_NAC D; M_ENVIADO L; X_OBS M'
table = dbf.Table(path, layout, dbf_type='db3', codepage='cp1252')
table.open(mode=dbf.READ_WRITE)
rows = [
    ('PEREZ', 12345678, 12.5, datetime.date(1980, 5, 17), True, 'Primera nota\r\ncon dos líneas'),
    ('GÓMEZ', 0, -3.25, datetime.date(2024, 2, 29), False, 'x' * 1500),
    ('', None, None, None, None, ''),
    ('MUÑOZ', 99, 0, datetime.date(1900, 1, 1), True, 'corta'),
]
for r in rows:
    table.append(r)
table.close()


def enc(v):
    if isinstance(v, datetime.date):
        return v.isoformat()
    return v


print(json.dumps([[enc(v) for v in r] for r in rows]))
