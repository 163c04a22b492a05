# Reads one reply mail of the central office with Python's own MIME parser and prints what a receiver sees:
#   subject<TAB>text
#   file<TAB>name<TAB>content type<TAB>size
#   line<TAB>name<TAB>text          each line of a .dat file (Windows-1252), "crlf<TAB>name<TAB>yes|no" after them
#   tiff<TAB>name<TAB>width<TAB>height<TAB>compression<TAB>photometric<TAB>bits<TAB>x dpi<TAB>pages
# The TIFF is read here from its own directory entries, independently of the program's image library.
import struct
import sys
from email import policy
from email.parser import BytesParser


def tiff(data):
    order = {b"II": "<", b"MM": ">"}.get(data[:2])
    if order is None or struct.unpack(order + "H", data[2:4])[0] != 42:
        return None
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8}
    offset = struct.unpack(order + "I", data[4:8])[0]
    pages = 0
    first = None
    while offset and pages < 100:
        count = struct.unpack(order + "H", data[offset:offset + 2])[0]
        tags = {}
        for i in range(count):
            e = data[offset + 2 + 12 * i: offset + 14 + 12 * i]
            tag, kind, n = struct.unpack(order + "HHI", e[:8])
            size = sizes.get(kind, 1) * n
            raw = e[8:12] if size <= 4 else data[struct.unpack(order + "I", e[8:12])[0]:][:size]
            if kind == 3:
                tags[tag] = struct.unpack(order + "H", raw[:2])[0]
            elif kind == 4:
                tags[tag] = struct.unpack(order + "I", raw[:4])[0]
            elif kind == 5:
                a, b = struct.unpack(order + "II", raw[:8])
                tags[tag] = a / b if b else 0
        if first is None:
            first = tags
        pages += 1
        offset = struct.unpack(order + "I", data[offset + 2 + 12 * count: offset + 6 + 12 * count])[0]
    return first, pages


with open(sys.argv[1], "rb") as f:
    msg = BytesParser(policy=policy.default).parse(f)
print("subject\t%s" % msg["subject"])
for part in msg.iter_attachments():
    name = part.get_filename()
    data = part.get_payload(decode=True) or b""
    print("file\t%s\t%s\t%d" % (name, part.get_content_type(), len(data)))
    if name.lower().endswith(".dat"):
        for line in data.decode("cp1252").split("\r\n")[:-1]:
            print("line\t%s\t%s" % (name, line))
        print("crlf\t%s\t%s" % (name, "yes" if data.endswith(b"\r\n") and b"\n" not in data.replace(b"\r\n", b"") else "no"))
    elif name.lower().endswith(".tif"):
        t = tiff(data)
        if t is None:
            print("tiff\t%s\tnot a TIFF" % name)
        else:
            tags, pages = t
            print("tiff\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%d" % (name, tags.get(256), tags.get(257), tags.get(259),
                                                     tags.get(262), tags.get(258), tags.get(282), pages))
