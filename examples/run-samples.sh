#!/bin/sh
# Decodes the bundled samples with a gcuproto tool: the one given as the first
# argument, else the one on PATH. Stops at the first command that fails.
set -eu
tool=${1:-gcuproto}
# A relative path must survive the change into the samples directory.
case $tool in
  /*) ;;
  */*) tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool") ;;
esac
samples=$(dirname "$0")/samples

run() {
  printf '\n$ gcuproto %s\n' "$*"
  "$tool" "$@"
}

cd "$samples"
run encode Command command.txt --out hex
run decode Command command.bin
run decode Command --in hex command.hex
run decode Response --json response.bin
run firmware --loader firmware.bin
run blackbox info blackbox.bin
run blackbox export blackbox.bin --format csv
run blackbox export blackbox.bin --format candump --iface vcan0
# The Python package where the build installs it beside the tool, under the system interpreter.
py=$(dirname "$(command -v "$tool")")/../lib/python3/dist-packages; if [ -d "$py/gcuproto" ]; then printf '\n$ python3 examples/python_sample.py blackbox.bin\n'; PYTHONPATH=$py /usr/bin/python3 ../python_sample.py blackbox.bin; else printf '\n(no gcuproto Python package in %s)\n' "$py"; fi
