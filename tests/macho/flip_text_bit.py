#!/usr/bin/python3
"""Copies a universal dylib with one bit changed in the first instruction of
its arm64 slice, as tampering after signing would.
  flip_text_bit.py SOURCE DESTINATION
"""
import os
import sys

from macholib.MachO import MachO

CPU_TYPE_ARM64 = 0x0100000C

source, destination = sys.argv[1:]
header = next(h for h in MachO(source).headers if h.header.cputype == CPU_TYPE_ARM64)
text = next(s for _, _, sections in header.commands for s in sections if s.sectname.rstrip(b"\0") == b"__text")
with open(source, "rb") as f:
    data = bytearray(f.read())
data[header.offset + text.offset] ^= 1
os.makedirs(os.path.dirname(destination), exist_ok=True)
with open(destination, "wb") as f:
    f.write(data)
