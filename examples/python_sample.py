"""Reads the bundled blackbox sample with the gcuproto Python package:
python3 examples/python_sample.py examples/samples/blackbox.bin"""

import sys

import gcuproto.blackbox as bb
from gcuproto.messages import Command

log = sys.argv[1] if len(sys.argv) > 1 else "blackbox.bin"
print(bb.read_lines(log, time=True).to_string())
print(bb.read_can(log, data="bytes").to_string())
command = Command(version=1)
command.ping.seq_no = 7
print("Command:", command.SerializeToString().hex(" "))
