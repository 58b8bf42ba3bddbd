#!/usr/bin/env python3
"""Sends one method call whose string argument is raw bytes, as a hostile client would, bypassing
the checks of the D-Bus libraries: raw_dbus_call.py SOCKET DEST PATH INTERFACE MEMBER HEXBYTES.
Prints "reply", "error NAME" or "disconnected" (the bus daemon dropped the connection)."""
import os
import socket
import struct
import sys


def pad(data, n):
    return data + b"\0" * (-len(data) % n)


def string(value):
    return struct.pack("<I", len(value)) + value + b"\0"


def message(serial, fields, signature=b"", body=b""):
    array = b""
    for code, sig, value in fields:
        array = pad(array, 8)
        wire = struct.pack("B", len(value)) + value + b"\0" if sig == b"g" else string(value)
        array += struct.pack("B", code) + struct.pack("B", 1) + sig + b"\0" + wire
    if signature:
        array = pad(array, 8) + struct.pack("BB", 8, 1) + b"g\0" + struct.pack("B", len(signature)) + signature + b"\0"
    header = b"l\x01\x00\x01" + struct.pack("<II", len(body), serial) + struct.pack("<I", len(array)) + array
    return pad(header, 8) + body


def replies(sock):
    data = b""
    while True:
        while len(data) >= 16:
            body_len, _, fields_len = struct.unpack("<III", data[4:16])
            total = len(pad(b"\0" * (16 + fields_len), 8)) + body_len
            if len(data) < total:
                break
            yield data[:total]
            data = data[total:]
        chunk = sock.recv(65536)
        if not chunk:
            return
        data += chunk


def main():
    path, dest, obj, iface, member, hexbytes = sys.argv[1:7]
    sock = socket.socket(socket.AF_UNIX)
    sock.connect(path)
    sock.sendall(b"\0AUTH EXTERNAL " + str(os.getuid()).encode().hex().encode() + b"\r\n")
    if not sock.recv(4096).startswith(b"OK"):
        sys.exit("no auth")
    sock.sendall(b"BEGIN\r\n")
    bus = [(1, b"o", b"/org/freedesktop/DBus"), (6, b"s", b"org.freedesktop.DBus"),
           (2, b"s", b"org.freedesktop.DBus"), (3, b"s", b"Hello")]
    sock.sendall(message(1, bus))
    call = [(1, b"o", obj.encode()), (6, b"s", dest.encode()), (2, b"s", iface.encode()), (3, b"s", member.encode())]
    sock.sendall(message(2, call, b"s", string(bytes.fromhex(hexbytes))))
    for reply in replies(sock):
        # a reply or error (type 2 or 3) whose REPLY_SERIAL field (code 5) holds 2
        fields = reply[16:]
        at = fields.find(b"\x05\x01u\x00")
        if reply[1] not in (2, 3) or at < 0 or struct.unpack("<I", fields[at + 4:at + 8])[0] != 2:
            continue
        if reply[1] == 2:
            print("reply")
        else:
            at = fields.find(b"\x04\x01s\x00")
            n = struct.unpack("<I", fields[at + 4:at + 8])[0]
            print("error " + fields[at + 8:at + 8 + n].decode())
        return
    print("disconnected")


main()
