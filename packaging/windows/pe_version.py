#!/usr/bin/env python3
"""Prints the version resource of a Windows program (the StringFileInfo
strings, one "Name=value" per line) and whether its manifest asks to run as
the invoker. For the setup program's tests: no Windows tool needed.

    pe_version.py PROGRAM.exe
"""
import struct
import sys


def align(offset):
    return (offset + 3) & ~3


def block(data, at):
    """(key, value, children, end) of the version block at `at`."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = align(key_end + 2)
    if kind == 1:  # text, counted in 16-bit units with its NUL
        value = data[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        children_at = align(value_at + 2 * value_length)
    else:
        value = data[value_at:value_at + value_length]
        children_at = align(value_at + value_length)
    children = []
    while children_at < end:
        child = block(data, children_at)
        children.append(child)
        children_at = align(child[3])
    return key, value, children, end


def main():
    data = open(sys.argv[1], "rb").read()
    at = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    if at < 0:
        sys.exit("no version resource")
    _, _, children, _ = block(data, at - 6)
    for key, _, tables, _ in children:
        if key != "StringFileInfo":
            continue
        for _, _, strings, _ in tables:
            for name, value, _, _ in strings:
                print("%s=%s" % (name, value))
    print("asInvoker=%s" % ("yes" if b'level="asInvoker"' in data else "no"))


if __name__ == "__main__":
    main()
