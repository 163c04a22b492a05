#!/usr/bin/python3
"""The peer of report_bench: ReportLab draws the official letters of a JSON file (the texts our reports read) with
the same page, boxes, fonts (Liberation, embedded) and logo, all into one PDF. Prints the seconds and pages as JSON."""
import json
import sys
import time

from reportlab.lib.pagesizes import A4
from reportlab.lib.units import mm
from reportlab.pdfbase import pdfmetrics
from reportlab.pdfbase.ttfonts import TTFont
from reportlab.pdfgen import canvas

data_file, logo, out = sys.argv[1], sys.argv[2], sys.argv[3]
with open(data_file, encoding='utf-8') as f:
    data = json.load(f)

fonts = '/usr/share/fonts/truetype/liberation/'
pdfmetrics.registerFont(TTFont('Arial', fonts + 'LiberationSans-Regular.ttf'))
pdfmetrics.registerFont(TTFont('Arial-Bold', fonts + 'LiberationSans-Bold.ttf'))
pdfmetrics.registerFont(TTFont('Times', fonts + 'LiberationSerif-Regular.ttf'))

W, H = A4
M = 10 * mm
CW = W - 2 * M


def top(y):  # mm from the top of the printable area to a PDF y coordinate
    return H - M - y * mm


def text(c, x, y, s, font, size, align='left', width=0):
    base = top(y) - size * 0.85
    if align == 'center':
        c.setFont(font, size)
        c.drawCentredString(M + (x + width / 2) * mm, base, s)
    elif align == 'right':
        c.setFont(font, size)
        c.drawRightString(M + (x + width) * mm, base, s)
    else:
        c.setFont(font, size)
        c.drawString(M + x * mm, base, s)


def labelled(c, x, y, label, value):
    text(c, x, y, label, 'Arial', 9)
    lw = pdfmetrics.stringWidth(label, 'Arial', 9) / mm
    text(c, x + lw + 1.5, y, value, 'Arial-Bold', 10)
    return x + lw + 1.5 + pdfmetrics.stringWidth(value, 'Arial-Bold', 10) / mm


def letter(c, d):
    w = CW / mm
    c.drawImage(logo, M, top(24), 24 * mm, 24 * mm)
    text(c, 26, 2, data['ministry'], 'Arial-Bold', 11, 'center', w - 52)
    text(c, 26, 8, data['ministry2'], 'Arial-Bold', 11, 'center', w - 52)
    text(c, 26, 14, data['agency'], 'Arial', 10, 'center', w - 52)
    text(c, 40, 27, d['lugar'], 'Times', 16, 'right', w - 40)
    y = 40.0
    rows = [10, 7, 8, 8, 7, 8, 8, 8, 8, 8, 8, 8, 8]
    c.setLineWidth(0.3 * mm)
    for i, h in enumerate(rows):
        c.rect(M, top(y + h), CW, h * mm)
        ty = y + 1.5
        if i == 0:
            text(c, 0, y + 2.5, 'PEDIDO DE INFORMES SOBRE CONDENAS  Y PROCESOS PENDIENTES', 'Arial-Bold', 13, 'center', w)
        elif i == 1:
            text(c, 0, y + 1.5, 'ORGANISMO REQUIRENTE', 'Arial-Bold', 10, 'center', w)
        elif i == 2:
            labelled(c, 2, ty, 'Fuero de Competencia - Nro.', d['org'])
            labelled(c, 126, ty, 'Secretaria:', d['sec'])
        elif i == 3:
            labelled(c, 2, ty, 'Calle - Nº:', d['dom'])
            labelled(c, 90, ty, 'Localidad:', d['loc'])
            labelled(c, 144, ty, 'Provincia:', d['prov'])
        elif i == 4:
            text(c, 0, y + 1.5, 'DATOS DEL CAUSANTE', 'Arial-Bold', 10, 'center', w)
        elif i == 5:
            labelled(c, 2, ty, 'Motivo de la Solicitud / Delito Imputado: ', d['tdel'])
            labelled(c, 140, ty, 'Causa Nº.', d['causa'])
        elif i == 6:
            end = labelled(c, 2, ty, 'Apellido(s):', d['ape'])
            text(c, end + 0.8, ty, d['apesup'], 'Arial-Bold', 10)
        elif i == 7:
            end = labelled(c, 2, ty, 'Nombre(s):', d['nom'])
            text(c, end + 0.8, ty, d['nomsup'], 'Arial-Bold', 10)
        elif i == 8:
            labelled(c, 2, ty, 'Sexo:', d['sexo'])
            labelled(c, 60, ty, 'Fecha de Nacimiento:', d['fnac'])
            labelled(c, 130, ty, 'o Edad Presunta:', d['edad'])
        elif i == 9:
            labelled(c, 2, ty, 'Nacionalidad:', d['nac'])
            labelled(c, 72, ty, 'D.N.I:', d['doc'])
            labelled(c, 122, ty, 'Exp. Por:', d['expp'])
        elif i == 10:
            labelled(c, 2, ty, 'Nombres del Padre:', d['padre'])
        elif i == 11:
            labelled(c, 2, ty, 'Apellidos de la Madre:', d['apemadre'])
        else:
            labelled(c, 2, ty, 'Nombres de la Madre:', d['nommadre'])
        y += h
    half = w / 2
    c.rect(M, top(y + 54), (half - 2) * mm, 50 * mm)
    c.rect(M + (half + 2) * mm, top(y + 54), (half - 2) * mm, 50 * mm)
    text(c, 0, y + 47, 'Sello del Organismo', 'Arial', 9, 'center', half - 2)
    text(c, half + 2, y + 47, 'Firma del Oficiante', 'Arial', 9, 'center', half - 2)
    c.showPage()


start = time.perf_counter()
c = canvas.Canvas(out, pagesize=A4)
for d in data['letters']:
    letter(c, d)
c.save()
seconds = time.perf_counter() - start
print(json.dumps({'seconds': seconds, 'pages': len(data['letters'])}))
