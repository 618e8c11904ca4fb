#!/usr/bin/env python3
"""flood_datagrams.py: sends malformed entry commands to the presence group, none of them valid.

    flood_datagrams.py GROUP PORT COUNT SECONDS

Every datagram breaks the entry command's rules in one way (too short, a size field that
differs from the datagram, an offset outside it, a string without its terminator, a wrong
magic, another domain key, an unknown command, random bytes), so a correct receiver changes
nothing. Bounded by COUNT datagrams and SECONDS; run it only inside a test's own namespace.
Prints "flooding GROUP:PORT" as it begins.
"""
import random
import socket
import struct
import sys
import time


def valid(command=2, argument=0, strings=(b"nick", b"Sales>East", b"user", b"pc"), key=0):
    nick, group, user, pc = strings
    total = 48 + len(nick) + len(group) + len(user) + len(pc)
    o1 = 44
    o2 = 45 + len(nick)
    o3 = o2 + len(group) + 1
    o4 = o3 + len(user) + 1
    head = struct.pack("<I8sIiiIIIII", total, b"WrenMct\0", 256, command, argument, key,
                       o1, o2, o3, o4)
    return bytearray(head + nick + b"\0" + group + b"\0" + user + b"\0" + pc + b"\0")


def malformed(rng):
    kind = rng.randrange(10)
    d = valid(command=rng.choice((1, 2, 3)), argument=rng.randrange(3))
    if kind == 0:
        return bytes(d[: rng.randrange(48)])                      # shorter than the header
    if kind == 1:
        struct.pack_into("<I", d, 0, len(d) + rng.randrange(1, 1000))  # size field too large
        return bytes(d)
    if kind == 2:
        struct.pack_into("<I", d, 0, rng.randrange(len(d)))       # size field too small
        return bytes(d)
    if kind == 3:
        field = rng.choice((28, 32, 36, 40))                      # an offset outside
        struct.pack_into("<I", d, field, rng.choice((len(d), len(d) + 7, 0xFFFFFFFF, 1 << 31)))
        return bytes(d)
    if kind == 4:
        d[-1] = ord("x")                                          # last string unterminated
        return bytes(d)
    if kind == 5:
        d[11] = ord("!")                                          # magic followed by a non-NUL
        return bytes(d)
    if kind == 6:
        struct.pack_into("<I", d, 24, rng.randrange(1, 1 << 32))  # another domain key
        return bytes(d)
    if kind == 7:
        struct.pack_into("<i", d, 16, rng.choice((0, 4, -1, 99)))  # unknown command
        return bytes(d)
    if kind == 8:
        # A huge group string whose size field lies: 60 KB of groups, then a bad total.
        big = valid(strings=(b"n", b"&".join([b"G%d>H" % i for i in range(6000)]), b"u", b"p"))
        struct.pack_into("<I", big, 0, len(big) - 1)
        return bytes(big)
    junk = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200)))
    # Random bytes that happen to pass every check are not malformed; never send those.
    return b"\xff" + junk


def main():
    group, port, count, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    rng = random.Random(7129)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    deadline = time.monotonic() + seconds
    # Tells a waiting test that the flood has begun.
    print("flooding %s:%d" % (group, port), flush=True)
    sent = 0
    while sent < count and time.monotonic() < deadline:
        try:
            s.sendto(malformed(rng), (group, port))
            sent += 1
        except OSError:
            time.sleep(0.01)
        if sent % 50 == 0:
            time.sleep(0.05)
    print("sent %d malformed datagrams" % sent)


if __name__ == "__main__":
    main()
