#!/usr/bin/env python3
"""Checks a mail the fake SMTP server received: check_mail.py MAIL.eml
REPORT-TEXT ARCHIVE. It parses as MIME, carries the report text in its
plain-text part, Screenshot.png as image/png and BugReport.zip as the very
bytes of ARCHIVE (a ZIP whose entries are encrypted), and its Base64 lines are
80 characters long."""
import email
import email.policy
import io
import sys
import zipfile

raw = open(sys.argv[1], "rb").read()
report, archive = sys.argv[2], open(sys.argv[3], "rb").read()
msg = email.message_from_bytes(raw, policy=email.policy.compat32)
assert msg.is_multipart(), "not multipart"
parts = msg.get_payload()
text = parts[0]
assert text.get_content_type() == "text/plain", text.get_content_type()
assert report in text.get_payload(), "report text missing"
by_name = {p.get_filename(): p for p in parts[1:]}
assert set(by_name) == {"Screenshot.png", "BugReport.zip"}, sorted(by_name)
assert by_name["Screenshot.png"].get_content_type() == "image/png"
assert by_name["BugReport.zip"].get_content_type() == "application/octet-stream"
png = by_name["Screenshot.png"].get_payload(decode=True)
assert png.startswith(b"\x89PNG"), png[:8]
attached = by_name["BugReport.zip"].get_payload(decode=True)
assert attached == archive, "archive bytes differ"
z = zipfile.ZipFile(io.BytesIO(attached))
assert [i.filename for i in z.infolist()] == ["report.txt"]
assert all(i.flag_bits & 1 for i in z.infolist()), "entries not encrypted"
lines = by_name["BugReport.zip"].get_payload().split("\r\n")
assert all(len(line) == 80 for line in lines[:-2]) and len(lines) > 3, [len(x) for x in lines]
print("ok")
