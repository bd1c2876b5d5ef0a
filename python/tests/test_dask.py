"""map_images over a two-worker LocalCluster gives the tool's lines, in input order."""
import pytest

distributed = pytest.importorskip("distributed")

from orvex_stagecache.dask import map_images  # noqa: E402
from conftest import draw_page, tool_lines, without_times, write_png  # noqa: E402


def test_map_images_on_two_workers_equals_the_tools_lines_in_input_order(tmp_path):
    paths = []
    for i in range(6):
        path = tmp_path / f"page-{i}.png"
        write_png(path, draw_page(480 + 16 * i, 640, seed=i))
        paths.append(str(path))
    (tmp_path / "broken.png").write_bytes(b"not an image")
    paths.insert(2, str(tmp_path / "broken.png"))
    paths.append(str(tmp_path / "missing.png"))
    expected = tool_lines(paths)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            lines = map_images(paths, client)
    assert [line["image"] for line in lines] == paths
    for path, line in zip(paths, lines):
        assert without_times(line) == without_times(expected[path]), path
    assert "skipped" in lines[2] and "skipped" in lines[-1]
