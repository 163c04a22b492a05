# An SMTP server on a free loopback port that accepts one message's envelope and then closes the connection in the
# middle of its DATA. Prints the port, serves one connection, ends.
import socket
import sys

srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(1)
srv.settimeout(30)
print(srv.getsockname()[1], flush=True)
conn, _ = srv.accept()
conn.settimeout(30)
f = conn.makefile("rb")
conn.sendall(b"220 drop.test ESMTP\r\n")
while True:
    line = f.readline()
    if not line:
        break
    cmd = line.strip().upper()
    if cmd.startswith(b"EHLO") or cmd.startswith(b"HELO"):
        conn.sendall(b"250-drop.test\r\n250 8BITMIME\r\n")
    elif cmd.startswith(b"MAIL") or cmd.startswith(b"RCPT"):
        conn.sendall(b"250 ok\r\n")
    elif cmd == b"DATA":
        conn.sendall(b"354 go on\r\n")
        f.read(2048)
        break
    elif cmd == b"QUIT":
        conn.sendall(b"221 bye\r\n")
        break
    else:
        conn.sendall(b"250 ok\r\n")
conn.close()
srv.close()
