#!/usr/bin/env python3
"""A small SMTP server for the mail tests: listens on 127.0.0.1 (a free port,
written to --port-file), records every session's command lines in
<dir>/session-N.txt and the message of each DATA (dot-stuffing undone) in
<dir>/mail-N.eml. --refuse-auth answers AUTH LOGIN with 502."""
import argparse
import os
import socketserver
import threading

parser = argparse.ArgumentParser()
parser.add_argument("--port-file", required=True)
parser.add_argument("--dir", required=True)
parser.add_argument("--refuse-auth", action="store_true")
args = parser.parse_args()

counter = [0]
lock = threading.Lock()


class Session(socketserver.StreamRequestHandler):
    def send(self, text):
        self.wfile.write(text.encode("latin-1"))
        self.wfile.flush()

    def handle(self):
        with lock:
            counter[0] += 1
            number = counter[0]
        log = open(os.path.join(args.dir, "session-%d.txt" % number), "wb")
        self.send("220 fake.smtp.test ESMTP ready\r\n")
        state = "command"
        data = []
        while True:
            line = self.rfile.readline()
            if not line:
                break
            if state == "data":
                if line == b".\r\n":
                    with open(os.path.join(args.dir, "mail-%d.eml" % number), "wb") as f:
                        f.write(b"".join(data))
                    log.write(b"<message>\r\n")
                    log.flush()
                    state = "command"
                    self.send("250 queued\r\n")
                    continue
                data.append(line[1:] if line.startswith(b".") else line)
                continue
            log.write(line)
            log.flush()
            if state == "user":
                state = "password"
                self.send("334 UGFzc3dvcmQ6\r\n")
                continue
            if state == "password":
                state = "command"
                self.send("235 accepted\r\n")
                continue
            verb = line.strip().split(b" ")[0].upper()
            if verb == b"EHLO":
                self.send("250-fake.smtp.test\r\n250 AUTH LOGIN\r\n")
            elif verb == b"HELO":
                self.send("250 fake.smtp.test\r\n")
            elif verb in (b"RSET", b"NOOP"):
                self.send("250 ok\r\n")
            elif verb == b"AUTH":
                if args.refuse_auth:
                    self.send("502 not implemented\r\n")
                else:
                    state = "user"
                    self.send("334 VXNlcm5hbWU6\r\n")
            elif line.upper().startswith(b"MAIL FROM:") or line.upper().startswith(b"RCPT TO:"):
                self.send("250 ok\r\n")
            elif verb == b"DATA":
                state = "data"
                self.send("354 go ahead\r\n")
            elif verb == b"QUIT":
                self.send("221 bye\r\n")
                break
            else:
                self.send("500 unknown command\r\n")
        log.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", 0), Session)
with open(args.port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(args.port_file + ".tmp", args.port_file)
server.serve_forever()
