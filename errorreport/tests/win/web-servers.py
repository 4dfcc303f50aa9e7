#!/usr/bin/env python3
"""The web probe (WebProgram.cpp) under Wine against local servers.

HTTP and HTTPS (a certificate made here by openssl) on 127.0.0.1 with handlers
for an upload, a 302 to another path, a 301, a page that redirects to itself
and a refresh header; FTP through pyftpdlib (Debian's python3-pyftpdlib; without it that
check fails and the rest still runs)."""
import http.server
import os
import shutil
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading

probe = sys.argv[1]
work = tempfile.mkdtemp(prefix="pellory-web-")
received = []  # (method, path, headers, body)
failed = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        received.append((self.command, self.path, dict(self.headers), body))
        path = self.path.split("?")[0]
        # A request through a proxy names the whole URL.
        if path.startswith("http://"):
            path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"

        if path == "/app/upload.php":
            self.answer(200, b"stored")
        elif path == "/app/refused.php":
            self.answer(403, b"no")
        elif path == "/app/post.php":
            self.answer(302, b"", [("Location", "/app/landing.php")])
        elif path == "/app/old.php":
            self.answer(301, b"", [("Location", "/app/new.php")])
        elif path == "/app/loop.php":
            self.answer(302, b"", [("Location", "/app/loop.php")])
        elif path == "/app/wait.php":
            self.answer(200, b"wait", [("Refresh", "0; url=/app/landing.php")])
        elif path.startswith("/mantis/"):
            self.mantis(path[len("/mantis/"):], body)
        else:
            self.answer(200, ("%s %s" % (self.command, self.path)).encode())

    # A small Mantis: login, project choice, search, the advanced report page and the report.
    def mantis(self, page, body):
        pages = {
            "login_select_proj_page.php":
                '<select name="project_id"><option value="4">Pellory</option></select>',
            "my_view_page.php": '<option value="4" selected="selected">Pellory</option>',
            "view_all_bug_page.php": '<input name="reset_query_button"><input name="source_query_id">',
            "bug_report_advanced_page.php":
                '<input type="hidden" name="m_id" value="0"><input name="project_id" value="4">'
                '<input name="bug_report_token" value="tok"><select name="category_id">'
                '<option value="7">Crash</option></select><input name="file" type="file">',
            "bug_report.php": '<a href="view.php?id=43">View</a>',
        }
        moves = {"login.php": "login_select_proj_page.php", "set_project.php": "my_view_page.php",
                 "view_all_set.php": "view_all_bug_page.php"}
        if page == "login.php" and b"password=pw" not in body:
            self.answer(200, b"<p>Your account may be disabled</p>")
        elif page in moves:
            self.answer(302, b"", [("Location", "/mantis/" + moves[page])])
        elif page in pages:
            self.answer(200, pages[page].encode())
        else:
            self.answer(404, b"")

    do_GET = handle_any
    do_POST = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def start(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def run(*args, env=None):
    for attempt in range(3):
        out = subprocess.run(["wine", probe] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                             env=dict(os.environ, **env) if env else None,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=90)
        lines = out.stdout.decode("latin-1").replace("\r", "").splitlines()
        # Wine now and then fails to start a program at all ("ShellExecuteEx failed"): start it again.
        if not any("ShellExecuteEx failed" in line for line in lines):
            break
    values = {}
    for line in lines:
        if "=" in line:
            key, value = line.split("=", 1)
            values.setdefault(key, value)
    if "end" not in lines:
        values["unfinished"] = "\n".join(lines)
    return values


def check(name, condition, detail=""):
    print("  %s: %s%s" % (name, "passed" if condition else "FAILED", "" if condition else " " + str(detail)))
    if not condition:
        failed.append(name)


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


http_server = start(Server(("127.0.0.1", 0), Handler))
port = http_server.server_address[1]
# The port goes at the end, where InsertUrlLogin puts it (a port before a folder is part of the host).
base = "http://127.0.0.1/app:%d" % port

# The archive the uploads carry.
archive = os.path.join(work, "BugReport.zip")
with open(archive, "wb") as f:
    f.write(b"PK\x03\x04" + bytes(range(256)) * 20)

print("HTTP upload")
received.clear()
r = run("upload", "127.0.0.1", port, "/app/upload.php", 0, "joe", "secret", wine_path(archive), "Report_1.zip")
check("upload result 0", r.get("result") == "0", r)
check("progress stages 0, 1, 2", r.get("stages") == "7", r)
posts = [x for x in received if x[1] == "/app/upload.php"]
check("one POST received", len(posts) == 1, [x[:2] for x in received])
if posts:
    method, path, headers, body = posts[0]
    check("Basic authorisation header", headers.get("Authorization") == "Basic am9lOnNlY3JldA==", headers)
    check("multipart content type", headers.get("Content-Type", "").startswith("multipart/form-data; boundary=-" * 1))
    with open(archive, "rb") as f:
        data = f.read()
    check("the archive as vl_upload_file_0",
          b'name="vl_upload_file_0"; filename="Report_1.zip";\r\nContent-Type: application/octet-stream\r\n\r\n' +
          data + b"\r\n" in body, body[:200])
    check("the field", b'name="note";\r\n\r\nfrom the probe\r\n' in body)

r = run("upload", "127.0.0.1", port, "/app/refused.php", 0, "", "", wine_path(archive), "Report_1.zip")
check("a refusing server gives its status", r.get("result") == "403", r)
r = run("upload", "127.0.0.1", 1, "/app/upload.php", 0, "", "", wine_path(archive), "Report_1.zip")
check("no server: the WinINet error and its text",
      r.get("result") not in (None, "0", "-1", "200") and r.get("error", "") != "", r)

print("Upload proxy")
# Nothing listens on the target's port: an upload succeeds only through a proxy.
target = "http://127.0.0.1:1/app/upload.php"
for name, proxy, env in [
    ("a named proxy host", ["127.0.0.1", port], None),
    # No host (the options' default) gives no proxy of the upload's own: the
    # system's settings apply, here the proxy of the environment.
    ("no proxy host: the system's proxy", ["", 8080], {"http_proxy": "http://127.0.0.1:%d" % port}),
]:
    received.clear()
    r = run("upload", "127.0.0.1", 1, "/app/upload.php", 0, "", "", wine_path(archive), "Report_1.zip", *proxy, env=env)
    check(name, r.get("result") == "0" and [x[1] for x in received] == [target], (r, [x[:2] for x in received]))
received.clear()
r = run("upload", "127.0.0.1", port, "/app/upload.php", 0, "", "", wine_path(archive), "Report_1.zip", "", 8080)
check("no proxy host and no system proxy: straight to the server",
      r.get("result") == "0" and [x[1] for x in received] == ["/app/upload.php"], (r, [x[:2] for x in received]))

print("Redirections")
received.clear()
r = run("request", base, 1, "post.php", "a=1 2")
check("302 followed", r.get("ok") == "1" and r.get("status") == "200" and r.get("document") == "landing.php", r)
check("followed as GET without fields", [x[0] for x in received] == ["POST", "GET"] and received[1][3] == b"",
      [x[:2] for x in received])
check("the POST carried the field", received and received[0][3] == b"a=1%202", received[:1])
r = run("request", base, 0, "old.php")
check("301 returned as it is", r.get("ok") == "1" and r.get("status") == "301" and r.get("path") == "/app/new.php", r)
r = run("request", base, 0, "wait.php")
check("refresh followed", r.get("ok") == "1" and r.get("document") == "landing.php", r)
received.clear()
r = run("request", base, 0, "loop.php")
check("self-redirect ends with an error", r.get("ok") == "0" and r.get("error", "").startswith("12156 "), r)
check("after eleven requests", len(received) == 11, len(received))
r = run("request", "http://127.0.0.1:1", 0, "x")
check("no server: a WinINet error", r.get("ok") == "0" and r.get("error", "0").split(" ")[0] not in ("0", ""), r)

print("Mantis through WinINet")
received.clear()
mantis = "http://127.0.0.1/mantis:%d" % port
r = run("mantis", mantis, "joe", "pw", "Pellory", wine_path(archive))
check("new bug reported (result 0)", r.get("result") == "0", r)
reports = [x for x in received if x[1] == "/mantis/bug_report.php"]
check("the report carries the archive and the token",
      reports and b'name="file"; filename="BugReport.zip";' in reports[0][3] and
      b'name="bug_report_token";\r\n\r\ntok\r\n' in reports[0][3], [x[:2] for x in received])
r = run("mantis", mantis, "joe", "wrong", "Pellory", wine_path(archive))
check("wrong password: result 3, text 148", r.get("result") == "3" and r.get("text") == "148", r)
r = run("mantis", mantis, "joe", "pw", "Other", wine_path(archive))
check("unknown project: result 4, text 150", r.get("result") == "4" and r.get("text") == "150", r)

print("HTTPS with a self-made certificate")
key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
made = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                       "-days", "2", "-subj", "/CN=some.other.name"], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode == 0
check("certificate made", made)
if made:
    https_server = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    https_server.socket = context.wrap_socket(https_server.socket, server_side=True)
    start(https_server)
    sport = https_server.server_address[1]
    received.clear()
    r = run("request", "https://127.0.0.1/app:%d" % sport, 0, "page.php", "q=x")
    check("HTTPS request", r.get("ok") == "1" and r.get("body") == "GET /app/page.php?q=x", r)
    r = run("upload", "127.0.0.1", sport, "/app/upload.php", 1, "joe", "secret", wine_path(archive), "R.zip")
    check("HTTPS upload", r.get("result") == "0", r)

print("FTP upload (passive)")
try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
except ImportError:
    DummyAuthorizer = None
if DummyAuthorizer is None:
    check("the FTP server (Debian package python3-pyftpdlib, installed by scripts/setup) is there", False)
else:
    home = os.path.join(work, "ftp")
    os.makedirs(os.path.join(home, "in"))
    authorizer = DummyAuthorizer()
    authorizer.add_user("joe", "secret", home, perm="elradfmw")
    handler = type("Handler", (FTPHandler,), {"authorizer": authorizer})
    ftp = FTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=ftp.serve_forever, daemon=True).start()
    r = run("ftp", "127.0.0.1", ftp.address[1], "in", "joe", "secret", wine_path(archive), "Report_1.zip")
    stored = os.path.join(home, "in", "Report_1.zip")
    with open(archive, "rb") as f:
        data = f.read()
    check("FTP result 0", r.get("result") == "0", r)
    check("FTP file stored", os.path.exists(stored) and open(stored, "rb").read() == data)
    ftp.close_all()

shutil.rmtree(work, ignore_errors=True)
print("web-senders: %s" % ("FAILED: " + ", ".join(failed) if failed else "passed"))
sys.exit(1 if failed else 0)
