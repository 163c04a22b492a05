# Reads one delivered message with Python's own MIME parser and prints what a receiver sees of it:
#   subject<TAB>text, to<TAB>text, received<TAB>the Received lines, body<TAB>the plain text (\r and \n escaped),
#   attachment<TAB>file name<TAB>sha256 of the decoded bytes<TAB>size
import hashlib
import sys
from email import policy
from email.parser import BytesParser

with open(sys.argv[1], "rb") as f:
    msg = BytesParser(policy=policy.default).parse(f)
print("subject\t%s" % msg["subject"])
print("to\t%s" % msg["to"])
print("received\t%s" % " | ".join(" ".join(str(r).split()) for r in msg.get_all("received", [])))
body = msg.get_body(preferencelist=("plain",))
if body is not None:
    print("body\t%s" % body.get_content().replace("\r", "\\r").replace("\n", "\\n"))
for part in msg.iter_attachments():
    data = part.get_payload(decode=True) or b""
    print("attachment\t%s\t%s\t%d" % (part.get_filename(), hashlib.sha256(data).hexdigest(), len(data)))
