#!/usr/bin/env python3
# make_seeds.py: writes the small hand-made seed corpora of the fuzz targets into corpus/<target>/.
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def entry(command, argument, nick=b"", group=b"", user=b"", computer=b"", key=0,
          group_offset=None):
    """A presence datagram as a sender of this system writes it."""
    strings = b"".join(s + b"\0" for s in (nick, group, user, computer))
    total = 44 + len(strings)
    o1 = 44
    o2 = o1 + len(nick) + 1
    o3 = o2 + len(group) + 1
    o4 = o3 + len(user) + 1
    if group_offset is not None:
        o2 = group_offset
    head = struct.pack("<I8sIiiIIIII", total, b"WrenMct\0", 256, command, argument, key,
                       o1, o2, o3, o4)
    return head + strings


def lp(b):
    return bytes([len(b)]) + b


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    key = 0x00010002
    k = struct.pack("<I", key)
    # entry_command_fuzz: domain key, datagram.
    write("entry_command_fuzz", "start", k + entry(1, 0, b"Bob", b"Sales>East&Staff", b"bob", b"PC1", key))
    write("entry_command_fuzz", "empty_strings", k + entry(2, 5, key=key))
    write("entry_command_fuzz", "exit", k + entry(3, 0, b"x", key=key))
    write("entry_command_fuzz", "no_groups", k + entry(2, 0, b"n", b"G", key=key, group_offset=0))
    write("entry_command_fuzz", "other_key", k + entry(2, 0, b"n", key=7))
    bad = bytearray(entry(2, 0, b"abc", key=key))
    bad[11] = ord("X")
    write("entry_command_fuzz", "magic_not_ended", k + bytes(bad))
    write("entry_command_fuzz", "short", k + entry(2, 0, key=key)[:47])
    wrong = bytearray(entry(2, 0, b"abc", key=key))
    wrong[40] = 200  # computer offset outside
    write("entry_command_fuzz", "offset_outside", k + bytes(wrong))

    # presence_datagram_fuzz: flags, then (source byte, 16-bit length, datagram)*.
    def dg(host, data):
        return bytes([host]) + struct.pack("<H", len(data)) + data
    write("presence_datagram_fuzz", "two_peers",
          b"\x00" + dg(5, entry(1, 0, b"Bob", b"A>B&E")) + dg(6, entry(2, 1, b"Ann", b"E&A>B>D"))
          + dg(5, entry(2, 0, b"Bobby", b"R&&D>Q&>A")))
    write("presence_datagram_fuzz", "exit_and_unknown",
          b"\x00" + dg(1, entry(2, 0, b"a", b"&")) + dg(2, entry(2, 0, b"b", b"A&"))
          + dg(1, entry(3, 0)) + dg(9, entry(3, 0)) + dg(3, entry(4, 0, b"c")))
    write("presence_datagram_fuzz", "domain_key",
          b"\x01" + dg(7, entry(1, 0, b"k", b"G", key=key)) + dg(8, entry(1, 0, b"z", b"G")))
    write("presence_datagram_fuzz", "malformed",
          b"\x00" + dg(4, entry(2, 0, b"abc")[:50]) + dg(4, b"\x30\0\0\0WrenMct\0"))

    # memo_frame_fuzz: header length, (16-bit announced, mode)*, stream.
    def frame(payload, length=None):
        if length is None:
            length = len(payload) + 8
        return struct.pack("<i", length) + payload + b"\0\0\0\0"
    write("memo_frame_fuzz", "empty_payload", b"\x00" + frame(b""))
    segs = struct.pack("<HB", 3, 0) + struct.pack("<HB", 200, 1 + 4 * 50) + struct.pack("<HB", 600, 0)
    write("memo_frame_fuzz", "segments_600", bytes([len(segs)]) + segs + frame(b"m" * 592))
    write("memo_frame_fuzz", "negative_length", b"\x00" + struct.pack("<i", -5) + b"abc")
    write("memo_frame_fuzz", "short_length", b"\x00" + struct.pack("<i", 2))
    segs = struct.pack("<HB", 2, 0) + struct.pack("<HB", 10, 3) + struct.pack("<HB", 40, 0)
    write("memo_frame_fuzz", "msgsize", bytes([len(segs)]) + segs + frame(b"x" * 30, 30))

    # access_list_fuzz: address (network order bytes), file.
    write("access_list_fuzz", "prefix24", bytes([192, 168, 1, 77]) + b"192.168.1.0/24\n")
    write("access_list_fuzz", "no_newline", bytes([10, 0, 0, 5]) + b"10.0.0.5")
    write("access_list_fuzz", "clamped", bytes([10, 0, 0, 5]) + b"# admins\r\n10.0.0.5/40\r\n10.0.0.6/0\r\n")
    write("access_list_fuzz", "comment_eof", bytes([192, 168, 0, 9]) + b"192.168.0.9 # the printer")
    write("access_list_fuzz", "long_token", bytes([1, 2, 3, 4]) + b"1" * 70 + b"\n1.2.3.4\n")
    write("access_list_fuzz", "joined", bytes([10, 0, 0, 1]) + b"10.0.0.1, 10.0.0.2\n0.0.0.0/1\n128.0.0.0/1")

    # node_list_fuzz: mode 0 (value parsers) or 1 (file).
    write("node_list_fuzz", "value", b"\x00" + bytes([3, 8]) + struct.pack("<h", 5) + b"Taro,1&&3")
    write("node_list_fuzz", "value_bad", b"\x00" + bytes([4, 1]) + struct.pack("<h", -1) + b",0&4&x2&")
    nl = (b"[GROUP]\r\nCOUNT=4\r\nGROUP1=Sales\r\nGROUP2=East,1\r\nGROUP3=West,1\r\n"
          b"GROUP4=Child,9\r\n[MACHINE]\r\nDEFAULT=Guest,1\r\nbob=Robert,2&3\r\nann=,2\r\n")
    write("node_list_fuzz", "file", b"\x01" + lp(b"bob") + lp(b"zed") + b"\x05" + nl)
    nl2 = b"[group]\ncount=3\ngroup1=,,\ngroup2=A,3\ngroup3=A,3\n[machine]\nX=\"q,1\"\n"
    write("node_list_fuzz", "file_odd", b"\x01" + lp(b"x") + lp(b"") + b"\x00" + nl2)

    # profile_fuzz: buffer size, section, key, value, flags, file.
    ini = b"\xef\xbb\xbf[Anonymous]\r\nMcstPort=7000\r\nNickname = \"Taro \" \r\n; note\r\n\r\n[Other]\r\nA=1\r\n"
    write("profile_fuzz", "rewrite", bytes([16]) + lp(b"anonymous") + lp(b"mcstport") + lp(b"7129") + b"\x01" + ini)
    write("profile_fuzz", "new_key", bytes([4]) + lp(b"Other") + lp(b"B") + lp(b" 'x' ") + b"\x01" + ini)
    write("profile_fuzz", "new_section", bytes([0]) + lp(b"New") + lp(b"K") + lp(b"") + b"\x01" + b"[a]\nk=v")
    write("profile_fuzz", "read_only", bytes([3]) + lp(b"s") + lp(b"k") + lp(b"") + b"\x00" + b"[s]\nk=longer value\n[s]\nk=2\n")

    # group_string_fuzz: op byte, operands.
    def parse(text, cap=100):
        return b"\x00" + bytes([cap]) + text + b"\x00"
    def intern(name, parent):
        return b"\x01" + lp(name) + struct.pack("<b", parent)
    examples = b"".join(parse(t) for t in (b"A>B&E", b"E&A>B>D", b"R&&D>Q&>A", b"B", b"A&", b"&", b"A>>B", b""))
    write("group_string_fuzz", "examples", examples)
    write("group_string_fuzz", "capacity", parse(b"a&b&c&d", 2) + parse(b"Sales&sales") + b"\x02x&&y&>z\x00")
    write("group_string_fuzz", "intern_clear", intern(b"A", -1) + intern(b"B", 0) + intern(b"C", 9) + b"\x03" + intern(b"D", 0))

    # host_record_fuzz: flags, peers, node list, sizes.
    def peer(host, absence, nick, group, user, comp):
        return bytes([host, absence]) + lp(nick) + lp(group) + lp(user) + lp(comp)
    peers = peer(5, 0, b"Bob", b"Sales>East", b"bob", b"PC1") + peer(6, 1, b"Ann", b"Staff&X", b"ann", b"PC2")
    nl = b"[GROUP]\nCOUNT=2\nGROUP1=X\nGROUP2=Y,1\n[MACHINE]\nDEFAULT=Guest,1\nBob=Robert,2&1\n"
    sizes = bytes([0, 1, 2, 3, 0, 0, 0x30, 1, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0]) * 2
    write("host_record_fuzz", "node_list", bytes([0x08, 2]) + peers + struct.pack("<H", len(nl)) + nl + sizes)
    write("host_record_fuzz", "no_node_list", bytes([0x07, 2]) + peers + b"\0\0" + sizes)
    write("host_record_fuzz", "by_address", bytes([0x0b, 1]) + peer(7, 0, b"", b"", b"u" * 200, b"m" * 20)
          + struct.pack("<H", 40) + b"[MACHINE]\n10.0.0.7=Seven,1\n[GROUP]\nCOUNT=1\n" + sizes)


if __name__ == "__main__":
    main()
