#!/usr/bin/env python3
"""A UDP DNS server for the MX tests on 127.0.0.1 (a free port, written to
--port-file). Every query is appended as hex to --log. --mode says what it
answers: "mx" an MX record naming --exchange, "selfpointer" an exchange name
that points at itself, "truncated" an answer cut inside its record,
"wrongid" a good answer with another id, "cname" only a CNAME record,
"servfail" result code 2."""
import argparse
import os
import socket
import struct

parser = argparse.ArgumentParser()
parser.add_argument("--port-file", required=True)
parser.add_argument("--log", required=True)
parser.add_argument("--mode", default="mx")
parser.add_argument("--exchange", default="127.0.0.1")
args = parser.parse_args()


def name(text):
    out = b""
    for label in text.split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def answer(query):
    qid = struct.unpack(">H", query[:2])[0]
    question = query[12:]
    flags, rcode, ident = 0x8180, 0, qid
    if args.mode == "wrongid":
        ident = qid ^ 0x0101
    if args.mode == "servfail":
        flags |= 2
    header = struct.pack(">HHHHHH", ident, flags, 1, 1, 0, 0)
    if args.mode == "cname":
        rdata = name("alias.example.test")
        record = b"\xc0\x0c" + struct.pack(">HHIH", 5, 1, 60, len(rdata)) + rdata
    elif args.mode == "selfpointer":
        # The exchange name is a pointer to its own position.
        start = 12 + len(question) + 12 + 2
        rdata = struct.pack(">H", 10) + struct.pack(">H", 0xC000 | start)
        record = b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, 60, len(rdata)) + rdata
    else:
        rdata = struct.pack(">H", 10) + name(args.exchange)
        record = b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, 60, len(rdata)) + rdata
    packet = header + question + record
    if args.mode == "truncated":
        packet = packet[: len(packet) - 5]
    return packet


sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 0))
with open(args.port_file + ".tmp", "w") as f:
    f.write(str(sock.getsockname()[1]))
os.rename(args.port_file + ".tmp", args.port_file)
while True:
    query, peer = sock.recvfrom(4096)
    with open(args.log, "a") as log:
        log.write(query.hex() + "\n")
    sock.sendto(answer(query), peer)
