"""The Cache and Image classes: shapes, ids, views, threads and bad input."""
import concurrent.futures
import gc
import json
import os
import pathlib
import re
import subprocess
import threading

import numpy as np
import pytest

import orvex_stagecache as osc
from conftest import draw_page, stagecache_tool, tool_lines, without_times, write_png, write_png_header

SOURCE = pathlib.Path(__file__).resolve().parents[2]


def test_an_image_gives_regions_segments_and_read_only_views_in_the_documented_shapes(page):
    cache = osc.Cache()
    assert cache.set_names == ["standard", "fine"]
    with cache.add(page) as image:
        assert len(image.id) == 32 and int(image.id, 16) >= 0
        for name in cache.set_names:
            regions, segments = image.regions(name), image.line_segments(name)
            assert regions.dtype == np.float32 and regions.ndim == 3 and regions.shape[1:] == (4, 2)
            assert segments.dtype == np.float32 and segments.ndim == 2 and segments.shape[1] == 4
            assert len(regions) > 0 and len(segments) > 0
            # Source coordinates: every corner lies on the page.
            assert regions[..., 0].min() >= 0 and regions[..., 0].max() <= page.shape[1]
            assert regions[..., 1].min() >= 0 and regions[..., 1].max() <= page.shape[0]
        source = image.result("standard", 1)
        assert source.shape == page.shape and source.dtype == np.uint8
        assert np.array_equal(source, page)
        assert not source.flags.writeable
        with pytest.raises(ValueError):
            source[0, 0, 0] = 1
        binary = image.result("fine", "region binary image", region=0)
        assert binary.ndim == 2 and binary.dtype == np.uint8
        summary = image.summary()
        assert summary["imageId"] == image.id
        assert [s["name"] for s in summary["sets"]] == cache.set_names
        assert np.allclose(np.array(summary["sets"][0]["regions"], np.float32), image.regions("standard"))
    assert image.released


def test_an_array_and_a_png_of_the_same_pixels_give_one_id_and_the_tools_line(page, page_file):
    cache = osc.Cache()
    with cache.add(page) as from_array:
        array_id = from_array.id
    with cache.add(page_file) as from_file:
        assert from_file.id == array_id
        assert from_file.name == str(page_file)
        summary = from_file.summary()
    line = tool_lines([str(page_file)])[str(page_file)]
    assert without_times(summary) == without_times(line)


def test_views_share_the_results_memory_and_outlive_their_image_and_cache(page):
    cache = osc.Cache()
    with cache.add(page) as image:
        first = image.result("standard", "grayscale image for regions")
        second = image.result("standard", "grayscale image for regions")
        region = image.result("fine", "region gray image, processed", region=0)
        assert np.shares_memory(first, second)
        first_sum, region_copy = int(first.sum()), region.copy()
    del cache, image
    gc.collect()
    # Pages allocated now must not reuse the results' memory.
    with osc.Cache().add(draw_page(seed=5)) as other:
        other.line_segments("standard")
    assert int(first.sum()) == first_sum
    assert np.array_equal(region, region_copy)


def test_a_view_that_outlives_its_image_keeps_its_pixels_and_none_of_the_images_results(page):
    cache = osc.Cache()
    # A release drops whatever only the table still holds, so this one starts from a settled table.
    with cache.add(draw_page(300, 400, seed=21)) as earlier:
        earlier.regions("standard")
    before = cache.statistics()
    image = cache.add(page)
    views = {
        "source": image.result("standard", 1),
        "grayscale": image.result("standard", "grayscale image for regions"),
        "region": image.result("fine", "region binary image", region=0),
    }
    copies = {name: view.copy() for name, view in views.items()}
    image.release()
    after = cache.statistics()
    assert after["table_entries"] == before["table_entries"]
    assert after["live_result_bytes"] == before["live_result_bytes"]
    # Another image's results must be computed into fresh memory, not into the views'.
    with cache.add(draw_page(seed=7)) as other:
        other.line_segments("fine")
    for name, view in views.items():
        assert np.array_equal(view, copies[name]), name


def test_views_are_read_only_however_they_are_reached(page):
    cache = osc.Cache()
    with cache.add(page) as image:
        view = image.result("standard", 1)
        binary = image.result("fine", "region binary image", region=0)
    for array in (view, np.asarray(view), np.array(view, copy=False), view[10:20, 5:9], view.T, binary, np.asarray(binary)):
        assert not array.flags.writeable
        with pytest.raises(ValueError):
            array[0, 0] = 1
        with pytest.raises(ValueError):
            array.setflags(write=True)
        with pytest.raises(ValueError):
            array.flags.writeable = True
    assert memoryview(view).readonly
    assert not np.frombuffer(view, np.uint8).flags.writeable
    assert np.array_equal(view, page)


def test_file_names_in_any_encoding_come_back_exactly_as_given(tmp_path, page):
    folder = os.fsencode(tmp_path)
    raw = folder + b"/page-\xff\xfe.png"  # not UTF-8
    write_png(raw, page)
    escaped = os.fsdecode(raw)  # the same name as str, with surrogate escapes
    plain = tmp_path / "page.png"
    write_png(plain, page)
    cache = osc.Cache()
    with cache.add(plain) as image:
        expected = without_times(image.summary())
    expected.pop("image")
    for given in (raw, escaped, pathlib.Path(escaped)):
        with cache.add(given) as image:
            name = os.fspath(given)
            assert type(image.name) is type(name) and image.name == name
            summary = without_times(image.summary())
            assert summary.pop("image") == name
            assert summary == expected
    for name in (b"scan-\xff", "scan-\udcff", "scan-\u00e9"):
        with cache.add(page, name=name) as image:
            assert type(image.name) is type(name) and image.name == name
            assert image.summary()["image"] == name

    missing = folder + b"/missing-\xff.png"
    with pytest.raises(FileNotFoundError) as error:
        cache.add(missing)
    assert error.value.filename == missing
    text = folder + b"/text-\xff.png"
    with open(text, "wb") as out:
        out.write(b"not an image")
    with pytest.raises(ValueError, match="not a PNG or JPEG") as error:
        cache.add(text)
    assert os.fsdecode(text) in str(error.value)
    with pytest.raises(UnicodeEncodeError):
        cache.add(str(tmp_path) + "/lone-\ud800.png")
    with pytest.raises(ValueError, match="null byte"):
        cache.add(str(tmp_path) + "/a\0b.png")
    with pytest.raises(TypeError):
        cache.add(page, name=3)
    parameters = folder + b"/params-\xff.json"
    with open(parameters, "wb") as out:
        out.write(b"{")
    with pytest.raises(ValueError) as error:
        osc.Cache(params=parameters)
    assert os.fsdecode(parameters) in str(error.value)


def test_arrays_are_held_to_the_pixel_limit_of_files_before_anything_is_copied(tmp_path, page):
    cache = osc.Cache()
    side = 12000
    write_png_header(tmp_path / "huge.png", side, side)
    with pytest.raises(ValueError, match=f"{side * side} pixels") as from_file:
        cache.add(tmp_path / "huge.png")
    limit = int(re.search(r"pixel limit of (\d+)", str(from_file.value)).group(1))
    # Stride-0 arrays: nothing of them exists to copy, so only the shape can refuse them.
    for shape in ((side, side), (side, side, 3), (1 << 20, 1 << 20), (limit // 10000 + 1, 10000, 4)):
        huge = np.broadcast_to(np.zeros((1,) * len(shape), np.uint8), shape)
        with pytest.raises(ValueError) as from_array:
            cache.add(huge)
        message = str(from_array.value)
        assert f"{shape[0] * shape[1]} pixels" in message and f"pixel limit of {limit}" in message, message
    for too_long in ((1, (1 << 20) + 1), ((1 << 20) + 1, 1)):
        with pytest.raises(ValueError, match="2\\^20"):
            cache.add(np.broadcast_to(np.zeros((1, 1), np.uint8), too_long))
    for wrong_type in (np.zeros((40, 40), [("grey", np.uint8)]), np.zeros((40, 40), object)):
        with pytest.raises(TypeError):
            cache.add(wrong_type)
    # Within the limit, repeated rows are read as their values.
    repeated = np.broadcast_to(page[:1], page.shape)
    with cache.add(repeated) as strided, cache.add(np.ascontiguousarray(repeated)) as contiguous:
        assert strided.id == contiguous.id


def test_canonical_parameters_name_what_the_sets_are_not_where_they_came_from(tmp_path):
    parameters = osc.default_parameters()
    text = osc.canonical_parameters(parameters)
    assert osc.canonical_parameters() == text
    (tmp_path / "spaced.json").write_text(json.dumps(parameters, indent=7, sort_keys=True))
    assert osc.canonical_parameters(tmp_path / "spaced.json") == text
    numbered = json.loads(json.dumps(parameters))
    numbered["parameterSets"][0]["binarizationModes"][0]["mode"] = "BM_THRESHOLD"
    assert osc.canonical_parameters(numbered) != text
    renamed = json.loads(json.dumps(parameters))
    renamed["parameterSets"][1]["name"] = "finer"
    assert osc.canonical_parameters(renamed) != text
    # The text is a parameter file: it gives the same sets back.
    assert osc.canonical_parameters(json.loads(text)) == text
    assert osc.Cache(params=json.loads(text)).set_names == osc.Cache().set_names
    with pytest.raises(FileNotFoundError):
        osc.canonical_parameters(tmp_path / "missing.json")


def test_the_gil_is_released_while_an_image_is_hashed_and_computed():
    big = draw_page(2400, 3200)
    cache = osc.Cache()
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1

    thread = threading.Thread(target=count)
    thread.start()
    try:
        before = counter[0]
        with cache.add(big) as image:
            during = counter[0] - before
            image.line_segments("fine")
    finally:
        stop.set()
        thread.join()
    # Held for the whole call, the GIL would leave the counting thread a few switch
    # intervals at most.
    assert during > 20000, during


def test_eight_threads_on_one_cache_find_what_one_thread_finds():
    pages = [draw_page(500 + 8 * i, 700, seed=i) for i in range(16)]
    cache = osc.Cache()

    def findings(page):
        with cache.add(page) as image:
            return without_times(image.summary())

    serial = [findings(page) for page in pages]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        parallel = list(pool.map(findings, pages))
    assert parallel == serial


def test_eight_threads_reading_one_image_while_it_is_released_get_results_or_value_error(page):
    cache = osc.Cache()
    set_name = cache.set_names[0]
    for _ in range(3):
        image = cache.add(page)
        expected = image.line_segments(set_name)
        expected_grey = np.array(image.result(set_name, 5))
        start = threading.Barrier(9)

        def read():
            start.wait()
            outcomes = set()
            for _ in range(50):
                try:
                    np.testing.assert_array_equal(image.line_segments(set_name), expected)
                    np.testing.assert_array_equal(image.result(set_name, 5), expected_grey)
                    outcomes.add("read")
                except ValueError:
                    outcomes.add("released")
            return outcomes

        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            futures = [pool.submit(read) for _ in range(8)]
            start.wait()
            image.release()
            outcomes = set().union(*(future.result() for future in futures))
        assert outcomes <= {"read", "released"}
        assert image.released
        with pytest.raises(ValueError):
            image.regions(set_name)


def test_arrays_of_any_layout_are_read_as_their_values(page):
    cache = osc.Cache()
    with cache.add(np.ascontiguousarray(page[::2, ::3])) as contiguous:
        expected = contiguous.id
    for layout in (page[::2, ::3], np.asfortranarray(page[::2, ::3]), np.ascontiguousarray(page[::2, ::3][::-1, ::-1])[::-1, ::-1]):
        with cache.add(layout) as image:
            assert image.id == expected
    transposed = np.ascontiguousarray(page.transpose(1, 0, 2)).transpose(1, 0, 2)
    with cache.add(transposed) as image:
        assert np.array_equal(image.result("standard", 1), page)
    grey = np.ascontiguousarray(page[:, :, 1])
    with cache.add(grey) as one, cache.add(grey[:, :, np.newaxis]) as same:
        assert one.id == same.id
    with cache.add(np.dstack([page, np.full(page.shape[:2], 255, np.uint8)])) as bgra:
        assert len(bgra.line_segments("standard")) > 0


def test_bad_input_raises_the_documented_errors(tmp_path, page):
    cache = osc.Cache()
    for wrong_type in (page.astype(np.float32), page.astype(np.int16), page.astype(bool), [[0, 1], [2, 3]], 42):
        with pytest.raises(TypeError):
            cache.add(wrong_type)
    for wrong_shape in (page[:, :, :2], page[np.newaxis], page[0], page[:0], np.zeros((4, 4), np.uint8)):
        with pytest.raises(ValueError):
            cache.add(wrong_shape)
    with pytest.raises(FileNotFoundError):
        cache.add(tmp_path / "missing.png")
    with pytest.raises(OSError, match="not a regular file"):
        cache.add(tmp_path)
    (tmp_path / "text.png").write_text("not an image")
    with pytest.raises(ValueError, match="not a PNG or JPEG"):
        cache.add(tmp_path / "text.png")

    parameters = osc.default_parameters()
    parameters["parameterSets"][0]["binarizationModes"][0]["intArg1"] = 100000
    with pytest.raises(ValueError, match=r"binarizationModes\[0\]\.intArg1"):
        osc.Cache(params=parameters)
    with pytest.raises(FileNotFoundError):
        osc.Cache(params=tmp_path / "missing.json")
    with pytest.raises(TypeError):
        osc.Cache(params=3)

    with cache.add(page) as image:
        with pytest.raises(KeyError):
            image.regions("no such set")
        for stage in (0, 24, "no such stage"):
            with pytest.raises(ValueError):
                image.result("standard", stage)
        with pytest.raises(ValueError, match="no image result"):
            image.result("standard", "line segments", region=0)
        with pytest.raises(IndexError):
            image.result("standard", "region binary image", region=10**6)
        with pytest.raises(IndexError):
            image.result("standard", 17, branch=10**6)
        with pytest.raises(ValueError, match="whole-image"):
            image.result("standard", 3, region=1)
    with pytest.raises(ValueError, match="released"):
        image.summary()


def test_parameters_from_a_dict_or_a_file_and_sets_that_share_a_name_keep_their_own_trees(tmp_path, page):
    changed = osc.default_parameters()
    changed["parameterSets"] = changed["parameterSets"][:1]
    changed["parameterSets"][0]["binarizationModes"][0]["intArg1"] = 31
    (tmp_path / "params.json").write_text(json.dumps(changed))
    original = osc.Cache()
    from_dict = osc.Cache(params=changed)
    from_file = osc.Cache(params=str(tmp_path / "params.json"))
    assert from_dict.set_names == from_file.set_names == ["standard"]
    with original.add(page) as a, from_dict.add(page) as b, from_file.add(page) as c:
        assert a.id == b.id == c.id
        assert np.array_equal(b.line_segments("standard"), c.line_segments("standard"))
        # One name, other parameters: other results, not the first cache's.
        assert not np.array_equal(a.result("standard", 17), b.result("standard", 17))


def test_statistics_count_the_computations_of_the_process(page):
    cache = osc.Cache()
    before = cache.statistics()
    with cache.add(draw_page(seed=11)) as image:
        image.line_segments("standard")
    after = cache.statistics()
    assert [row["name"] for row in after["stages"]] == osc.stage_names()
    computed = sum(row["computed"] for row in after["stages"]) - sum(row["computed"] for row in before["stages"])
    assert computed > 20
    assert "store" in after


def test_statistics_name_every_figure_in_snake_case():
    statistics = osc.Cache().statistics()
    assert set(statistics) == {"stages", "table_entries", "live_result_bytes", "store"}
    assert [row["stage"] for row in statistics["stages"]] == list(range(1, 24))
    for row in statistics["stages"]:
        assert set(row) == {"stage", "name", "own", "adopted", "created", "computed", "loaded", "compute_ms"}
    assert statistics["store"] is None


def test_statistics_follow_what_an_image_holds_and_computes():
    cache = osc.Cache()
    before = cache.statistics()
    with cache.add(draw_page(seed=12)) as image:
        image.line_segments("fine")
        held = cache.statistics()
    after = cache.statistics()
    assert held["table_entries"] > before["table_entries"]
    assert held["live_result_bytes"] > before["live_result_bytes"]
    assert after["table_entries"] == before["table_entries"]
    spent = sum(row["compute_ms"] for row in held["stages"]) - sum(row["compute_ms"] for row in before["stages"])
    assert spent > 0
    created = {row["name"]: row["created"] - old["created"] for row, old in zip(held["stages"], before["stages"])}
    assert created["line segments"] > 0


def test_the_version_is_the_one_the_project_declares():
    declared = re.search(r"^project\(OrvexStagecache VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text(), re.M)
    assert declared and osc.__version__ == declared.group(1)
    tomllib = pytest.importorskip("tomllib")
    with open(SOURCE / "pyproject.toml", "rb") as file:
        assert tomllib.load(file)["project"]["version"] == osc.__version__


def test_the_version_is_the_one_the_tool_prints():
    printed = subprocess.run([stagecache_tool(), "--version"], stdout=subprocess.PIPE, check=True).stdout.decode()
    assert printed.startswith(f"stagecache {osc.__version__}, libOrvexStagecache "), printed


def test_help_shows_the_documentation():
    assert "read-only numpy view" in osc.Image.result.__doc__
    assert "store" in osc.Cache.__init__.__doc__
    assert "map_images" in osc.__doc__
