#!/usr/bin/python3
"""Builds reply messages in the shapes real mail programs write and puts them in a mailbox.

Reads a JSON list of messages on stdin:
  {"subject": "...", "from": "...", "to": "...", "shape": "plain|alternative|rfc2231|rfc2047|qp|nameonly|deep",
   "resp": {"c_ped": 3, ...} (a resp.dat with a [DATA] section), "files": [{"name": ..., "text": ... |
   "repeat": [text, count] | "hex": ...}], "depth": N (shape deep), "raw_name": bytes of a name as latin-1,
   "headers": {"X-Name": "value", ...} (further header fields)}
argv: smtp HOST PORT   (delivers through the SMTP server)
      maildir DIR      (writes each message as a new file in DIR/new)
"""
import json
import os
import smtplib
import sys
import time
from email import encoders, policy
from email.charset import QP, Charset
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText


def resp_dat(values):
    lines = ["[DATA]"] + ["%s=%s" % (k, v) for k, v in values.items()]
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def payload(f):
    if "text" in f:
        return f["text"].encode("cp1252")
    if "repeat" in f:
        text, count = f["repeat"]
        return text.encode("latin-1") * count
    return bytes.fromhex(f["hex"])


def attachment(name, data, shape):
    if shape == "qp":
        part = MIMEBase("text", "plain", charset="windows-1252")
        part.set_payload(data)
        encoders.encode_quopri(part)
    else:
        part = MIMEBase("application", "octet-stream")
        part.set_payload(data)
        encoders.encode_base64(part)
    if shape == "rfc2231":
        part.add_header("Content-Disposition", "attachment", filename=("utf-8", "", name))
    elif shape == "rfc2047":
        import base64
        word = "=?utf-8?B?%s?=" % base64.b64encode(name.encode("utf-8")).decode()
        part.set_param("name", word)
        part.add_header("Content-Disposition", "attachment")
        part.replace_header("Content-Disposition", 'attachment; filename="%s"' % word)
    elif shape == "nameonly":
        part.set_param("name", name)
    else:
        part.add_header("Content-Disposition", "attachment", filename=name)
    return part


def build(m):
    shape = m.get("shape", "plain")
    outer = MIMEMultipart("mixed")
    outer["Subject"] = m["subject"]
    outer["From"] = m.get("from", "qevcentral@example.test")
    outer["To"] = m.get("to", "user@example.test")
    outer["Message-ID"] = "<%s.%d@example.test>" % (time.time_ns(), os.getpid())
    for name, value in m.get("headers", {}).items():
        outer[name] = value
    if shape == "alternative":
        alt = MIMEMultipart("alternative")
        qp = Charset("utf-8")
        qp.body_encoding = QP
        alt.attach(MIMEText("Respuesta de QEV Central, ñandú\n", "plain", qp))
        alt.attach(MIMEText('<p>Respuesta <b>de</b> QEV Central</p><img src="http://example.test/x.png">', "html", qp))
        outer.attach(alt)
    else:
        outer.attach(MIMEText("Respuesta de QEV Central\n", "plain", "utf-8"))
    files = []
    if "resp" in m:
        files.append(("resp.dat", resp_dat(m["resp"])))
    for f in m.get("files", []):
        files.append((f["name"], payload(f)))
    for name, data in files:
        outer.attach(attachment(name, data, shape))
    if shape == "deep":
        # A tree of nested multiparts with the reply at the bottom.
        inner = outer
        for _ in range(m.get("depth", 200)):
            nested = MIMEMultipart("mixed")
            inner.attach(nested)
            inner = nested
        inner.attach(MIMEText("fondo\n", "plain", "utf-8"))
    raw = outer.as_bytes(policy=policy.SMTP)
    for old, new in m.get("replace", []):
        raw = raw.replace(old.encode("latin-1"), new.encode("latin-1"))
    return raw


def main():
    messages = json.load(sys.stdin)
    if sys.argv[1] == "smtp":
        with smtplib.SMTP(sys.argv[2], int(sys.argv[3])) as s:
            for m in messages:
                s.sendmail(m.get("from", "qevcentral@example.test"), [m.get("to", "user@example.test")], build(m))
    else:
        folder = sys.argv[2]
        # The mailbox belongs to the mail servers' user: what is made here is handed to the owner of the nearest
        # folder that exists.
        probe = folder
        while not os.path.exists(probe):
            probe = os.path.dirname(probe)
        owner = os.stat(probe)
        def make(path):
            if os.path.isdir(path):
                return
            make(os.path.dirname(path))
            os.mkdir(path)
            os.chown(path, owner.st_uid, owner.st_gid)
        for sub in ("new", "cur", "tmp"):
            make(os.path.join(folder, sub))
        for i, m in enumerate(messages):
            name = "%d.%d_%d.qevtest" % (time.time_ns(), os.getpid(), i)
            tmp = os.path.join(folder, "tmp", name)
            with open(tmp, "wb") as out:
                out.write(build(m))
            os.chmod(tmp, 0o666)
            os.chown(tmp, owner.st_uid, owner.st_gid)
            os.rename(tmp, os.path.join(folder, "new", name))


if __name__ == "__main__":
    main()
