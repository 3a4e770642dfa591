"""Many logs on a dask cluster of two worker processes, against pandas on the same files."""

import pandas as pd
import pytest

import gcuproto.blackbox as bb
from conftest import mixed_log

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


@pytest.fixture(scope="module")
def fleet(tmp_path_factory):
    directory = tmp_path_factory.mktemp("fleet")
    paths = []
    for i in range(22):
        # Files of different widths, so that the fleet's columns are their union.
        path = directory / f"unit{i:02}.bin"
        path.write_bytes(mixed_log(50 + 7 * i, inputs=2 + i % 4, outputs=i % 3, seed=i))
        paths.append(str(path))
    return paths


@pytest.mark.parametrize("kind,read,options", [
    ("line", bb.read_lines, dict(time=True)),
    ("lineCan", bb.read_can, dict(data="matrix", start=0.5)),
])
def test_fleet_on_a_cluster_equals_pandas_concatenation(client, fleet, kind, read, options):
    frame = bb.to_dask(fleet, kind=kind, **options)
    assert frame.npartitions == len(fleet)
    assert len(client.scheduler_info()["workers"]) == 2
    result = frame.compute()

    expected = pd.concat([read(path, **options).assign(source=path) for path in fleet], ignore_index=True)
    expected = expected[list(result.columns)]
    assert list(result["source"].cat.categories) == fleet
    pd.testing.assert_frame_equal(result.reset_index(drop=True).astype({"source": str}),
                                  expected.astype(result.dtypes.astype(str).to_dict()).astype({"source": str}))
    # A column that only the wider files have is missing in the others' rows.
    if kind == "line":
        assert result["in4"].isna().sum() == sum(read(path)["in4"].isna().sum() if "in4" in read(path) else len(read(path))
                                                 for path in fleet)
