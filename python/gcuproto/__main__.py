"""python3 -m gcuproto plot LOG --channel in2 [--channel out0] [--can-id 7E8 --byte 0]
[--from S] [--to S] -o plot.png|plot.svg"""

import argparse
import io
import os
import stat
import sys
import tempfile


def write_output(path, data, inputs):
    """Writes `data` to `path` as a careful tool does: a regular file is
    replaced only once complete, keeping its mode (through a symlink, the
    target is replaced); anything else (a device, a FIFO) is written directly;
    an output that is one of the inputs is refused."""
    target = os.path.realpath(path)
    try:
        info = os.stat(target)
    except FileNotFoundError:
        info = None
    for name in inputs:
        if info is not None and os.path.exists(name) and os.path.samefile(name, target):
            raise ValueError(f"{path}: the output is the input {name}")
    if info is not None and not stat.S_ISREG(info.st_mode):
        with open(target, "wb") as out:
            out.write(data)
        return
    directory = os.path.dirname(target) or "."
    handle, temporary = tempfile.mkstemp(prefix=".", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, stat.S_IMODE(info.st_mode) if info is not None else 0o666 & ~_umask())
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def plot_command(args):
    from . import plot as plotting
    if len(args.byte) != len(args.can_id):
        raise SystemExit("gcuproto plot: error: give one --byte for each --can-id")
    form = args.format or os.path.splitext(args.output)[1].lstrip(".").lower()
    if form not in ("png", "svg"):
        raise SystemExit(f"gcuproto plot: error: {args.output}: give a .png or .svg output, or --format")
    figure = plotting.plot(args.log, args.channel, list(zip(args.can_id, args.byte)), start=args.start,
                           stop=args.stop, seconds_per_tick=args.seconds_per_tick, width=args.width)
    buffer = io.BytesIO()
    figure.savefig(buffer, format=form)
    write_output(args.output, buffer.getvalue(), [args.log])


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m gcuproto")
    commands = parser.add_subparsers(dest="command", required=True)
    plot = commands.add_parser("plot", help="plot signals of a blackbox log against time, one panel each",
                               description="Plots signals of a blackbox log against time in seconds, one panel "
                               "per signal, each reduced to its minimum and maximum per pixel column so that "
                               "no spike is lost.")
    plot.add_argument("log", metavar="LOG", help="the blackbox file")
    plot.add_argument("--channel", action="append", default=[], help="a logger channel: in<N> or out<N>; repeatable")
    plot.add_argument("--can-id", action="append", default=[], help="CAN id in hex (7E8; 8 digits: extended); "
                      "with --byte, a data byte of its frames; repeatable")
    plot.add_argument("--byte", action="append", default=[], type=int, help="the data byte of the --can-id before")
    plot.add_argument("--from", dest="start", type=float, help="first second to plot")
    plot.add_argument("--to", dest="stop", type=float, help="last second to plot")
    plot.add_argument("--seconds-per-tick", type=float, default=0.001, help="seconds per time-stamp tick (0.001)")
    plot.add_argument("--width", type=int, default=1200, help="width in pixels (1200)")
    plot.add_argument("--format", choices=("png", "svg"), help="the output's format; by default its extension's")
    plot.add_argument("-o", "--output", required=True, help="the image to write")
    args = parser.parse_args(argv)
    try:
        plot_command(args)
    except (OSError, ValueError) as error:
        print(f"gcuproto plot: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
