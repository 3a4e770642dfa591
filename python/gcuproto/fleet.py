"""Many logs as one dask DataFrame, read where the dask workers run:

    from dask.distributed import Client
    import gcuproto.blackbox as bb
    client = Client("tcp://scheduler:8786")     # or a LocalCluster
    lines = bb.to_dask(sorted(glob.glob("/data/logs/*.bin")), kind="line", time=True)
    lines.groupby("source").in2.max().compute()

Each file is one partition, with a categorical `source` column naming it.
The workers must see the files under the same paths. The columns are those
of all files together: a sample column that some file or line lacks is
pandas' nullable Int32 in every partition."""

import pandas as pd

from . import blackbox

_READERS = {blackbox.LINE: blackbox.read_lines, blackbox.CAN: blackbox.read_can}


def _sample_order(name):
    """in0, in1, ..., out0, ...: inputs before outputs, by number."""
    output = name.startswith("out")
    return output, int(name[3:] if output else name[2:])


def _is_sample(name):
    return (name.startswith("in") and name[2:].isdigit()) or (name.startswith("out") and name[3:].isdigit())


def _meta(empties, paths):
    """The empty frame every partition conforms to."""
    dtypes = {}
    for frame in empties:
        for name, dtype in frame.dtypes.items():
            dtypes[name] = dtype if dtypes.get(name, dtype) == dtype else pd.Int32Dtype()
    for name in dtypes:
        if any(name not in frame for frame in empties):
            dtypes[name] = pd.Int32Dtype()
    names = list(dtypes)
    samples = sorted((n for n in names if _is_sample(n)), key=_sample_order)
    if samples:
        others = [n for n in names if not _is_sample(n)]
        tail = [n for n in others if n == "time"]
        names = [n for n in others if n != "time"][:2] + samples + tail
    meta = pd.DataFrame({name: pd.Series([], dtype=dtypes[name]) for name in names})
    meta["source"] = pd.Categorical([], categories=list(dict.fromkeys(paths)))
    return meta


def _read_file(path, kind, options, meta):
    frame = _READERS[kind](path, **options)
    columns = {}
    for name, dtype in meta.dtypes.items():
        if name == "source":
            columns[name] = pd.Categorical.from_codes([meta[name].cat.categories.get_loc(path)] * len(frame),
                                                      dtype=dtype)
        elif name in frame:
            columns[name] = frame[name].astype(dtype, copy=False)
        else:
            columns[name] = pd.array([pd.NA] * len(frame), dtype=dtype)
    return pd.DataFrame(columns, index=frame.index)


def to_dask(paths, kind=blackbox.LINE, **options):
    """A dask DataFrame of the logs at `paths`, in order: their logger lines
    (kind="line") or CAN lines (kind="lineCan") as read_lines or read_can read
    them with `options`, and a categorical `source` column (the path). The
    files' columns are found first by blackbox.shape, on the workers when a
    distributed client is active."""
    import dask
    import dask.dataframe as dd

    if kind not in _READERS:
        raise ValueError(f"kind: {kind!r} is neither 'line' nor 'lineCan'")
    if "chunksize" in options:
        raise ValueError("to_dask reads one partition per file: chunksize does not apply")
    paths = [str(path) for path in paths]
    if not paths:
        raise ValueError("to_dask needs at least one log")
    shapes = dask.compute(*[dask.delayed(blackbox.shape)(path, kind, **options) for path in paths])
    meta = _meta([empty for empty, _ in shapes], paths)
    parts = [dask.delayed(_read_file)(path, kind, options, meta) for path in paths]
    return dd.from_delayed(parts, meta=meta, verify_meta=False)
