"""map_images over LocalClusters: the tool's lines in input order, names as given, and
parameters read again on every call."""
import json
import os
import pathlib

import pytest

distributed = pytest.importorskip("distributed")

import orvex_stagecache as osc  # noqa: E402
from orvex_stagecache.dask import map_images  # noqa: E402
from conftest import draw_page, tool_lines, without_times, write_png  # noqa: E402


@pytest.fixture(scope="module")
def two_workers():
    """A client of two worker processes, one thread each, shared by the module's tests."""
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster:
        with distributed.Client(cluster) as client:
            yield client


def test_map_images_on_two_workers_equals_the_tools_lines_in_input_order(tmp_path, two_workers):
    paths = []
    for i in range(6):
        path = tmp_path / f"page-{i}.png"
        write_png(path, draw_page(480 + 16 * i, 640, seed=i))
        paths.append(str(path))
    (tmp_path / "broken.png").write_bytes(b"not an image")
    paths.insert(2, str(tmp_path / "broken.png"))
    paths.append(str(tmp_path / "missing.png"))
    expected = tool_lines(paths)
    lines = map_images(paths, two_workers)
    assert [line["image"] for line in lines] == paths
    for path, line in zip(paths, lines):
        assert without_times(line) == without_times(expected[path]), path
    assert "skipped" in lines[2] and "skipped" in lines[-1]


def test_map_images_gives_paths_in_any_encoding_back_as_given_and_skips_those_no_file_can_have(tmp_path, two_workers):
    folder = os.fsencode(tmp_path)
    plain = str(tmp_path / "page.png")
    raw = folder + b"/page-\xff.png"  # not UTF-8
    for path in (plain, raw):
        write_png(path, draw_page(360, 480, seed=4))
    escaped = os.fsdecode(raw)
    paths = [
        plain,
        raw,
        escaped,
        pathlib.Path(escaped),
        folder + b"/missing-\xff.png",
        str(tmp_path) + "/lone-\ud800.png",  # no file system encoding takes it
        str(tmp_path) + "/null\0.png",
    ]
    lines = map_images(paths, two_workers)
    names = [line["image"] for line in lines]
    assert names == [os.fspath(path) for path in paths]
    assert [type(name) for name in names] == [type(os.fspath(path)) for path in paths]
    found = without_times(dict(lines[0], image=None))
    for line in lines[1:4]:
        assert without_times(dict(line, image=None)) == found
    assert lines[4]["skipped"] == "is missing"
    for line in lines[5:]:
        assert line["skipped"].startswith("is not a file name"), line


def test_map_images_after_the_parameter_file_changed_gives_the_new_parameters_results(tmp_path):
    paths = []
    for i in range(2):
        path = tmp_path / f"page-{i}.png"
        write_png(path, draw_page(360, 480, seed=i))
        paths.append(str(path))
    parameters = osc.default_parameters()
    parameters["parameterSets"] = parameters["parameterSets"][:1]
    params = tmp_path / "params.json"
    params.write_text(json.dumps(parameters))
    # One worker, so that the second call surely meets the Cache of the first.
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False, dashboard_address=":0") as cluster:
        with distributed.Client(cluster) as client:
            before = map_images(paths, client, params=str(params))
            parameters["parameterSets"][0]["binarizationModes"].append({"mode": "BM_THRESHOLD"})
            params.write_text(json.dumps(parameters, indent=4))
            after = map_images(paths, client, params=str(params))
    expected = tool_lines(paths, "--params", str(params))
    assert without_times(after) == [without_times(expected[path]) for path in paths]
    assert without_times(before) != without_times(after)
