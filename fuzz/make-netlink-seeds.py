#!/usr/bin/env python3
"""Writes the netlink seeds: sock_diag replies in the fuzzer's framing."""
import os
import struct

SOCK_DIAG_BY_FAMILY, NLMSG_DONE, NLMSG_ERROR = 20, 3, 2
NLM_F_MULTI, NLM_F_DUMP_INTR = 2, 0x10
KERNEL, PROCESS, TRUNC, STAMP = 0, 1, 2, 4


def message(kind, seq, payload, flags=NLM_F_MULTI):
    body = struct.pack("=IHHII", 16 + len(payload), kind, flags, seq, 0) + payload
    return body + b"\0" * (-len(body) % 4)


def listener(family, port, inode, state=10):
    ident = struct.pack(">HH", port, 0) + b"\0" * 32 + struct.pack("=I2I", 0, 0, 0)
    return message(SOCK_DIAG_BY_FAMILY, 0,
                   struct.pack("=BBBB", family, state, 0, 0) + ident + struct.pack("=5I", 0, 0, 0, 1000, inode))


def done(seq=0, error=0, flags=NLM_F_MULTI):
    return message(NLMSG_DONE, seq, struct.pack("=i", error), flags)


def datagram(data, flags=STAMP):
    return struct.pack("<BH", flags, len(data)) + data


seeds = {
    "two-families": datagram(listener(2, 3000, 123456) + listener(2, 8000, 123457) + done())
    + datagram(listener(10, 9229, 223456) + done()),
    "explicit-sequence": datagram(done(1), KERNEL) + datagram(done(2), KERNEL),
    "interrupted-then-whole": datagram(listener(2, 3000, 1) + done(flags=NLM_F_MULTI | NLM_F_DUMP_INTR))
    + datagram(listener(2, 3000, 1) + done()) + datagram(done()),
    "error-reply": datagram(message(NLMSG_ERROR, 0, struct.pack("=i", -22) + b"\0" * 16)),
    "from-a-process": datagram(done(), PROCESS | STAMP) + datagram(done()) + datagram(done()),
    "truncated": datagram(listener(2, 5173, 9), TRUNC | STAMP),
    "dump-broke-off": datagram(done(error=-16)),
    "not-listening": datagram(listener(2, 4000, 5, state=1) + done()) + datagram(done()),
}
here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "netlink")
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
