#!/usr/bin/python3
"""The peer of dbf_bench: python3-dbf appends rows of the request layout to a dBase III table, then scans it.
Prints the seconds each step took as JSON."""
import datetime
import json
import sys
import time

import dbf

path, rows = sys.argv[1], int(sys.argv[2])
layout = ('C_PED N(8,0); C_SEXO C(1); C_TDOC C(2); C_NAC N(6,0); C_ORG N(8,0); F_PED D; X_SEC C(40); X_DOM C(80); '
        'X_LOC C(40); X_DELITO C(80); X_APE1 C(15); X_APE2 C(15); X_NOM1 C(15); X_NOM2 C(15); F_NAC D; N_DOC N(10,0); '
        'M_ENVIADO L; M_CONTESTA L; X_OBS C(250); C_REG N(4,0); C_EST C(1); X_MEMO M')
table = dbf.Table(path, layout, dbf_type='db3', codepage='cp1252')
table.open(mode=dbf.READ_WRITE)
surnames = ['PEREZ', 'GOMEZ', 'RODRIGUEZ', 'FERNANDEZ', 'LOPEZ', 'MARTINEZ', 'GARCIA', 'SANCHEZ', 'ROMERO', 'SOSA']
start = time.perf_counter()
for i in range(rows):
    table.append((i + 1, 'M', 'DU', 1, 10 + i % 50, datetime.date(2024, 1 + i % 12, 1 + i % 28), 'SECRETARIA 1',
                  'AV. SIEMPRE VIVA 742', 'CORDOBA', 'ROBO', surnames[i % 10] + str(i % 997), 'DIAZ', 'JUAN', 'CARLOS',
                  datetime.date(1970 + i % 40, 1 + i % 12, 1 + i % 28), 20000000 + i, i % 2 == 0, i % 3 == 0,
                  'SIN OBSERVACIONES', 7, 'E', 'nota ' + str(i) if i % 10 == 0 else ''))
append = time.perf_counter() - start
start = time.perf_counter()
n = 0
for rec in table:
    if rec.x_ape1.strip():
        n += 1
scan = time.perf_counter() - start
table.close()
print(json.dumps({'rows': rows, 'append': append, 'scan': scan, 'seen': n}))
