# Puts the inbox test's messages into a mailbox through SMTP, in the shapes mail programs write: plain text ones,
# and one with alternative plain and HTML parts (a script, a style sheet and images that would fetch from the
# address given) and three attachments, one with a hostile name.
#   argv: SMTP_PORT TO SPY_PORT
import smtplib
import sys
import time
from email.message import EmailMessage

port, to, spy = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def plain(subject, text):
    m = EmailMessage()
    m["From"] = "central@example.test"
    m["To"] = to
    m["Subject"] = subject
    m.set_content(text)
    return m


html = EmailMessage()
html["From"] = "Mesa de Entradas <mesa@example.test>"
html["To"] = to
html["Cc"] = "copia@example.test"
html["Subject"] = "Mensaje HTML"
html.set_content("Hola operador (texto)")
html.add_alternative(
    "<html><head><style>body{background:url(http://127.0.0.1:%s/bg.png)}</style>"
    "<script>document.write('ALERTA-SCRIPT')</script></head><body>"
    "<p>Hola <b onclick=\"x()\">operador</b></p><img src=\"http://127.0.0.1:%s/spy.png\">"
    "<a href=\"http://127.0.0.1:%s/link\">enlace</a><!-- <img src=x> --></body></html>" % (spy, spy, spy),
    subtype="html")
html.add_attachment(b"contenido peligroso\r\n", maintype="text", subtype="plain", filename="../../evil.txt")
html.add_attachment(b"II*\x00\x08\x00\x00\x00", maintype="image", subtype="tiff", filename="INFORME.TIF")
html.add_attachment(b"x" * 46080, maintype="application", subtype="octet-stream", filename="grande.txt")

with smtplib.SMTP("127.0.0.1", port) as s:
    for m in [plain("Aviso uno", "uno"), html, plain("Aviso tres", "tres"), plain("Aviso cuatro", "cuatro"),
              plain("Extranjero", "para reenviar")]:
        s.send_message(m)
        time.sleep(0.15)
