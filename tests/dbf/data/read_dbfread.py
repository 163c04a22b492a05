#!/usr/bin/python3
"""Reads a dBase III/IV table with dbfread and prints its rows (deleted ones included, flagged) as JSON."""
import datetime
import json
import sys

from dbfread import DBF


def enc(v):
    # dbfread takes the length word of a dBase IV memo block as the length of the text alone, although it counts
    # the block's own 8-byte header too, so it hands back 8 bytes of padding behind every such memo.
    if isinstance(v, str) and v.endswith('\x00' * 8):
        v = v[:-8]
    if isinstance(v, (datetime.date, datetime.datetime)):
        return v.isoformat()
    if isinstance(v, bytes):
        return v.decode('latin-1')
    return v


t = DBF(sys.argv[1], encoding='cp1252', load=True, char_decode_errors='strict')
out = {
    'fields': [[f.name, f.type, f.length, f.decimal_count] for f in t.fields],
    'records': [[enc(v) for v in r.values()] for r in t.records],
    'deleted': [[enc(v) for v in r.values()] for r in t.deleted],
}
print(json.dumps(out))
