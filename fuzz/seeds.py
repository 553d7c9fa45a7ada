#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/seed_*:
the cases of the unit tests (every packet type at its minimum and maximum
size and one byte short, the config, command, key and token tables).
Inputs found by fuzzing are kept beside them as corpus/<target>/regress_*."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, "seed_" + name), "wb") as f:
        f.write(data)


def header(ptype, seq=1, player=2):
    return b"DM\x01" + bytes([ptype]) + struct.pack("<IHH", seq, player, 0)


def zeros(n, prep):
    b = bytearray(n + 64)
    prep(b)
    return bytes(b[:n])


def put(b, at, data):
    b[at:at + len(data)] = data


# -- net_datagram: type, payload minimum and maximum, the bytes set before cutting
bounds = [
    ("hello", 1, 8, 39, lambda b: put(b, 6, b"\x01a")),
    ("state", 16, 73, 118, lambda b: None),
    ("acc_part", 17, 8, 1188, lambda b: put(b, 6, b"\x01")),
    ("time", 18, 12, 12, lambda b: put(b, 0, struct.pack("<df", 10.0, 1.0))),
    ("weather", 19, 6, 6, lambda b: None),
    ("prop", 20, 63, 254, lambda b: (put(b, 0, b"\x01"), put(b, 61, b"\x01"))),
    ("prop_removed", 21, 4, 4, lambda b: None),
    ("prop_list", 22, 2, 1026, lambda b: None),
    ("layout", 23, 2, 34, lambda b: None),
    ("message", 24, 1, 201, lambda b: None),
    ("traffic_defs", 25, 6, 1188, lambda b: put(b, 0, b"\x01")),
    ("traffic_cars", 26, 5, 1175, lambda b: None),
    ("traffic_ids", 27, 3, 1191, lambda b: None),
    ("owner", 28, 2, 3, lambda b: None),
    ("job", 48, 47, 47, lambda b: None),
    ("job_removed", 49, 4, 4, lambda b: None),
    ("role", 66, 9, 33, lambda b: None),
    ("joined", 6, 1, 33, lambda b: None),
]
for name, ptype, lo, hi, prep in bounds:
    write("net_datagram", name + "_min", header(ptype) + zeros(lo, prep))
    write("net_datagram", name + "_max", header(ptype) + zeros(hi, prep))
    write("net_datagram", name + "_short", header(ptype) + zeros(lo - 1, prep))
write("net_datagram", "welcome", header(2))
write("net_datagram", "header_short", header(2)[:11])
write("net_datagram", "refused_banned", header(3) + b"\x04\x03bad")
write("net_datagram", "dropped_kicked", header(7) + b"\x04\x01x")
write("net_datagram", "info_reply", header(9, 0, 0) + struct.pack("<IHBBB", 7, 1, 3, 8, 4) + b"srv1")
write("net_datagram", "info_reply_short", header(9, 0, 0) + struct.pack("<IHBB", 7, 1, 3, 8))
write("net_datagram", "auth_reply", header(65) + bytes(range(96)))
# a state with both blocks: flags 4|2|8, trailer x 7.5, lights 0x1234, horns 3
state = struct.pack("<IB", 1, 14) + bytes(68) + struct.pack("<I", 9)
state += struct.pack("<d", 7.5) + bytes(32) + struct.pack("<IB", 0x1234, 3)
write("net_datagram", "state_blocks", header(16) + state)
# a prop with an attach block: id 3, path "m", attached to player 9's cabin
prop = struct.pack("<I", 3) + bytes(56) + b"\x01\x01m" + struct.pack("<HBB", 9, 2, 0) + bytes(28)
write("net_datagram", "prop_attached", header(20) + prop)
car = struct.pack("<IiiihhhhHI", 4, 123, 0, 0, 32767, 0, 0, -32768, 655, 1)
write("net_datagram", "traffic_car", header(26) + struct.pack("<IB", 5, 1) + car)
write("net_datagram", "traffic_ids_297", header(27) + struct.pack("<BH", 0, 297) + bytes(4 * 297))


# -- net_roster: records of type, player, sequence, hundredths since the last, length, payload
def record(ptype, player, seq, payload, dt=10):
    return struct.pack("<BBIBH", ptype, player, seq, dt, len(payload)) + payload


def state_payload(ms, x):
    return struct.pack("<IBddd", ms, 4, x, 0.0, 0.0) + struct.pack("<ffff", 1, 0, 0, 0) + bytes(24) + bytes(4)


join = record(6, 2, 1, b"\x03bob")
acc_one = struct.pack("<IBBBB", 0xAB, 0, 0, 1, 1) + b"\x01a"
run = join + record(16, 2, 2, state_payload(1000, 1.0)) + record(16, 2, 3, state_payload(1100, 2.0))
run += record(17, 2, 4, acc_one) + record(66, 2, 5, struct.pack("<II", 0xFF0000, 0xFFFFFFFF) + b"\x05admin")
run += record(24, 0, 6, b"\x02hi") + record(7, 2, 7, b"\x00")
write("net_roster", "join_state_drop", run)
parts = join + record(17, 2, 2, struct.pack("<IBBBB", 0xCD, 1, 0, 2, 2) + b"\x01a\x02bc")
parts += record(17, 2, 3, struct.pack("<IBBBB", 0xCD, 1, 1, 2, 1) + b"\x00")
write("net_roster", "acc_two_parts", parts)
write("net_roster", "kicked", record(7, 1, 1, b"\x04\x03bye") + record(3, 0, 2, b"\x05\x00"))

# -- config_text: the split table, duplicates, the default file, a long line
splits = ["server = 1.2.3.4\n", " \t Port\t=\t 42871 \t\r\n", "name=\n", "name = a = b", "# port = 1\n",
          "  ; port = 1\n", "no equals here\n", "\n", "= value"]
for i, line in enumerate(splits):
    write("config_text", "split_%d" % i, line)
write("config_text", "two_ports", "port = 1\nport = 2\n")
write("config_text", "values", "PORT = 70000\nRemote_Mode = RV\ntraffic = ON\nsync = 2\nui_scale = 125\n"
      "autoconnect = off\nname =\n")
default = ("# drovemark client settings (docs/04 \"Client\"). Edit, then `config reload` in cmd.txt (or restart).\n"
           "# server: IPv4 address or hostname of an drovemark server (empty = don't connect)\n"
           "server = \nport = 42870\n# name shown to other players (1..32 bytes)\nname = pc\n"
           "# 1 = join when you're in the game (a profile is loaded), leave on the main menu\nautoconnect = 1\n"
           "remote_mode = clone\nsync = 1\ntraffic = off\nupdate_url = \nauto_update = 1\n")
write("config_text", "default", default)
write("config_text", "long_line", "update_url = " + "u" * 1100 + "\nport = 5\n")
# the encodings and bytes of the file: a UTF-8 mark and a 0x1A byte, UTF-16 both ways
write("config_text", "utf8_mark_ctrl_z", b"\xef\xbb\xbfserver = a.b\r\n\x1a\r\nport = 7\r\nname = J\xc3\xb6rg")
write("config_text", "utf16le", b"\xff\xfe" + "server = a.b\r\nport=7\r\nname = J\u00f6rg\r\n".encode("utf-16-le"))
write("config_text", "utf16be", b"\xfe\xff" + "port = 7\nname = \U0001F600\n".encode("utf-16-be"))

# -- cmd_line: every row of the command table, and lines no row takes
lines = ["ping", "pos", "build", "update", "update off", "threads", "local", "spawn", "spawn 12", "despawn",
         "trailer", "trailer off", "info", "config reload", "config refresh", "config", "cargodump",
         "peek 0x140000000+8", "traffic", "traffic net on", "rvspawn a", "rvdespawn", "rvinfo", "rvvelon",
         "remote rv", "rvmove circle", "rvstep auto", "rvclock off", "weather rain", "roadevents", "clock 12",
         "memrec 5 a.bin", "model list", "gps", "cam", "nametags on", "job list", "damage", "repair all",
         "watch on", "watch off", "cmp", "flags off", "flags 3f", "wheeldbg", "steer flip", "move",
         "move circle 5", "hook on", "hook off", "shadow on", "shadow off", "defdump", "defdump d.txt",
         "spawnlist l.txt 8", "spawnmode clone", "spawnmode share", "collide on", "net collide on",
         "collide off", "net collide off", "tick on", "tick off", "net", "net status",
         "spawnx", "spawnlist", "netstatus", "damage now", "PING", "ping ", "peek", "memrec", "config x",
         "moves", "updates", "peek 0x1436B8D70 +31b0 + 18  +0", "memrec 2.5 config.ini."]
for i, line in enumerate(lines):
    write("cmd_line", "%02d" % i, line + "\n")
write("cmd_line", "file", "ping\r\n\r\n\r\nPING\r\n" + "x" * 300 + "\nbuild\n\nthreads")

# -- key_line: the identity line table
good = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
write("key_line", "good", good + " anything")
write("key_line", "file", good + "\n# drovemark player key: proves who you are to servers (roles, bans). "
      "Keep it private; don't share it.\n")
write("key_line", "short", good[:63])
write("key_line", "short_newline", good[:63] + "\n")
write("key_line", "prefixed", "0x" + good[2:])

# -- token_text: the token table, then values as 8 bytes
for i, text in enumerate(["", "0", "a", "_", "a0", "abcdefghijkl", "abcdefghijklm", "A", "a.b"]):
    write("token_text", "text_%d" % i, text)
for name, value in [("zero_digit", 38), ("all_ones", 2**64 - 1), ("aa", 11 + 38 * 11)]:
    write("token_text", name, struct.pack("<Q", value))

# -- look_entry: the entries of the look list tests, one of each kind and cut fields
for i, text in enumerate([
        "/def/acc/chassis_6x4.sii",
        "/def/acc/wheel_front.sii;o=65535",
        "/def/acc/wheel_front.sii;o=65536;o=-1",
        "/def/acc/paint_job.sii;p=00ff8000ff3340c01ae603004d66b3cc0199",
        "p;p=808080808080808080808080808080808080",
        "p;p=80808080808080808080808080808080808",
        "/def/acc/cargo_holder.sii;k=cargo.logs;s=1234abcd5678ef00;m=3,1,2;h=0.5,-1.25,0.1;u=2.5;n=4;"
        "d=1.5,2,1.23457e+06",
        "c;k=c;m=1,x;h=nan,inf;u=-0;n=99999999999;d=1e-45",
        ";o=2",
        "p" * 223 + ";o=1"]):
    write("look_entry", "entry_%d" % i, text)

# -- servers_json: the server list tests' texts, good and malformed
for i, text in enumerate([
        "[]", "{ }", "{\"servers\":[]}",
        "{\"meta\":{\"a\":[1,{\"b\":[[],{}]}],\"c\":\"x\"},\t\"servers\":[{\"host\":\"h.example\"}]}",
        "{\"servers\":[{\"host\":\"a\"}],\"x\":1,\"servers\":[{\"host\":\"b\",\"port\":7}]}",
        "\xef\xbb\xbf[{\"host\":\"a\",\"port\":65535.5,\"region\":\"eu\",\"description\":\"d\"}]",
        "[{\"host\":\"a\",\"port\":1e3},{\"host\":\"b\",\"port\":-5},{\"port\":\"1\",\"host\":\"c\"}]",
        "[{\"host\":\"a\",\"name\":\"\\n\\t\\r\\b\\f\\\"\\\\\\/\\x\"}]",
        "[{\"host\":\"a\",\"name\":\"caf\\u00e9 \\ud83d\\ude00 \\u4g00z\"}]",
        "[{\"players\":[1,2,{\"x\":null}],\"flag\":true,\"host\":\"a\",\"n\":-1.5e3}]",
        "[{\"name\":\"x\"},{\"host\":\"\"},{},{\"host\":\"b\"}]",
        "[{\"host\":\"a\"} {\"host\":\"b\"}]", "{\"a\":[1,2}", "[{\"name\":\"ab\\",
        "{\"x\":" + "[" * 40 + "]" * 40 + ",\"servers\":[{\"host\":\"a\"}]}"]):
    write("servers_json", "text_%d" % i, text)

# -- servers_favorites: the favourites tests' texts
for i, text in enumerate([
        "# mine\na.example 1\n  b.example\t65535  \r\nc.example\nd.example 2 friends\n",
        "bad;host 5\nf.example 0\nf.example 65536\nf.example 12x\n" + "g" * 160 + " 5\n",
        "x.example 5\n# between\nx.example 5", "h.example " + "0" * 148 + "7\r\n",
        "".join("h%d.example %d\n" % (i, 1000 + i) for i in range(60))]):
    write("servers_favorites", "text_%d" % i, text)

# -- update_manifest: the signed test manifest and signed parts of the tests
with open(os.path.join(here, "..", "tests", "unit", "data", "update_manifest.txt"), "rb") as f:
    write("update_manifest", "signed", f.read())
core_line = "file drovemark_core.dll " + "a" * 64 + " 100 core/drovemark_core.dll\n"
head = "drovemark-manifest 1\nbuild b1\napi 1\n"
write("update_manifest", "part", head + core_line)
write("update_manifest", "part_bad_path", head + core_line.replace("core/", "core/../"))
write("update_manifest", "part_no_api", "drovemark-manifest 1\nbuild b1\n" + core_line)
write("update_manifest", "url", "https://example.invalid/updates")
write("update_manifest", "command", " install")

# -- world_text: the world commands' tables
for i, text in enumerate([
        "12.5 -3 1e3 nan inf 1e999 12x ff 0x10 FFFFFFFF 100000000 ffffffffffffffff 1ffffffffffffffff -1 0x",
        " fixable cargo", " truck fixable", " unfixable trucks",
        " to 1 2", " add mark", " to 1 2 3 4", " add 1 nan 2", " clear now",
        "ab 1a 3f800000 0 ffffffff bc614e 7", "a_ beef 3fc00000 2 ffffffff 1234 2a", "? 1 2 3 4 5 6"]):
    write("world_text", "line_%d" % i, text)

# -- nametags_cmd: the nametags and cam command tables
for i, text in enumerate([
        "  on", " off", " dist 50", " dist 1250.5", " dist inf", " dist 1e39", " dist", " onward",
        " dump 40 +960", "dump", "  w2s", " dump +20 +8", " dump 2000 +1 +2 +3 +4 +5 +6 +7 +8 +9"]):
    write("nametags_cmd", "line_%d" % i, text)

# -- props_text: the model command's rest of line, then models.txt lines
for i, text in enumerate([
        "spawn /model/cone.pmd 4 -2 red big\ncone\tTraffic cone\t\t/model/cone.pmd\n",
        "attach last cabin@7 1 2 3 90\na\tb\tc\t/p.pmd\tfifth\tsixth\r\n",
        "attach 3 ROOF\n\t\t\t\n", "/a/../b.PMD\nx\ty\n", "  despawn all\n", "ray 20\n",
        "light 2 !Beacons\ncone barrel\tx\ty\t/cone.pmd\r\n", "/" + "a" * 155 + ".pmd\n",
        "raymask ffff\n" + "t\tn\ts\t/" + "p" * 1100 + "\n", "save " + "n" * 40 + "\n"]):
    write("props_text", "text_%d" % i, text)
