"""A Cache with the result store: results found again by a later Cache and process."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

import orvex_stagecache as osc
from conftest import draw_page, without_times, write_png


def test_a_later_process_loads_what_the_first_stored_and_a_process_keeps_one_store(tmp_path):
    store = tmp_path / "store"
    path = tmp_path / "page.png"
    write_png(path, draw_page(seed=3))
    first = osc.Cache(store=store)
    assert first.store == str(store)
    with first.add(path) as image:
        expected = without_times(image.summary())
    stored = first.statistics()["store"]
    assert set(stored) == {"hits", "misses", "writes", "bytes_read", "bytes_written", "corrupt", "evictions", "write_failures"}
    assert stored["writes"] > 20
    assert stored["bytes_written"] > stored["writes"]
    assert stored["bytes_read"] == 0 and stored["hits"] == 0

    script = (
        "import json, sys, orvex_stagecache as osc\n"
        "cache = osc.Cache(store=sys.argv[1])\n"
        "with cache.add(sys.argv[2]) as image: line = image.summary()\n"
        "print(json.dumps({'line': line, 'statistics': cache.statistics()}))\n"
    )
    done = subprocess.run([sys.executable, "-c", script, str(store), str(path)], stdout=subprocess.PIPE, check=True)
    later = json.loads(done.stdout)
    assert without_times(later["line"]) == expected
    assert sum(row["computed"] for row in later["statistics"]["stages"]) == 0
    assert sum(row["loaded"] for row in later["statistics"]["stages"]) > 0
    assert later["statistics"]["store"]["writes"] == 0
    assert later["statistics"]["store"]["bytes_written"] == 0
    assert later["statistics"]["store"]["hits"] > 0
    assert later["statistics"]["store"]["bytes_read"] > later["statistics"]["store"]["hits"]

    # The store is the process's: the same folder again is fine, another one is refused.
    assert osc.Cache(store=str(store) + "/").store == str(store)
    with pytest.raises(ValueError, match="one store"):
        osc.Cache(store=tmp_path / "other")


# Runs pages through a Cache with the store in a process of its own; after the first page
# the store stops taking writes the way `failure` says, and the other pages (then the
# first again) run on two threads. Prints every summary and the store's figures.
STORE_THAT_FAILS = textwrap.dedent("""
    import concurrent.futures, json, resource, shutil, sys
    import orvex_stagecache as osc
    failure, store, paths = sys.argv[1], sys.argv[2], sys.argv[3:]
    cache = osc.Cache(store=store)

    def summary(path):
        with cache.add(path) as image:
            return image.summary()

    lines = [summary(paths[0])]
    if failure == "full":
        # The disk fills up: no file may grow past 4 KiB from here on (writes fail with EFBIG).
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
    else:
        shutil.rmtree(store)  # the folder goes away under the running process
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        lines += list(pool.map(summary, paths[1:] + paths[:1]))
    print(json.dumps({"lines": lines, "store": cache.statistics()["store"]}))
""")


@pytest.mark.parametrize("failure", ["full", "removed"])
def test_a_store_that_stops_taking_writes_mid_run_changes_no_result_and_warns_once(tmp_path, failure):
    paths = []
    for i in range(6):
        path = tmp_path / f"page-{i}.png"
        write_png(path, draw_page(360, 480, seed=20 + i))
        paths.append(str(path))
    cache = osc.Cache()
    expected = []
    for path in paths + paths[:1]:
        with cache.add(path) as image:
            expected.append(without_times(image.summary()))
    done = subprocess.run(
        [sys.executable, "-c", STORE_THAT_FAILS, failure, str(tmp_path / "store"), *paths],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        check=False,
    )
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    run = json.loads(done.stdout)
    assert [without_times(line) for line in run["lines"]] == expected
    assert run["store"]["writes"] > 0  # the first page was stored whole
    assert run["store"]["write_failures"] >= 1
    if failure == "full":
        # What was stored before the disk filled up is still read: the first page comes back loaded.
        assert sum(stage["loaded"] for stage in run["lines"][-1]["stages"]) > 0
    warnings = [line for line in done.stderr.decode(errors="replace").splitlines() if line.strip()]
    assert len(warnings) == 1 and "going on without writing" in warnings[0], warnings


def _entry_usage(store):
    """The bytes the store's entries, records and temporary files take on disk."""
    total = 0
    for folder, _, files in os.walk(store):
        for name in files:
            if name.endswith((".entry", ".record")) or ".tmp." in name:
                total += os.lstat(os.path.join(folder, name)).st_blocks * 512
    return total


def _counted_by_size_files(store):
    """What the size files of the store's sixteen fan-out folders count together."""
    total = 0
    for digit in "0123456789abcdef":
        try:
            with open(os.path.join(store, digit, "size")) as size:
                total += int(size.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total


# A pool of forked workers over one store, each worker taking one image and ending as a
# pool's worker does (os._exit, no destructors). Prints each image's region counts.
FORKED_POOL = textwrap.dedent("""
    import json, multiprocessing, sys
    import orvex_stagecache as osc
    store, limit, paths = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    cache = osc.Cache(store=store, store_limit=limit)

    def regions(path):
        with cache.add(path) as image:
            return [len(image.regions(name)) for name in cache.set_names]

    with multiprocessing.get_context("fork").Pool(4, maxtasksperchild=1) as pool:
        print(json.dumps(pool.map(regions, paths, chunksize=1)))
""")


def test_a_forked_pool_one_image_per_worker_counts_every_write_and_keeps_the_limit(tmp_path):
    paths = []
    for i in range(8):
        path = tmp_path / f"page-{i}.png"
        write_png(path, draw_page(600, 800, seed=40 + i))
        paths.append(str(path))

    def pool(store, limit):
        done = subprocess.run([sys.executable, "-c", FORKED_POOL, str(store), str(limit), *paths],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        assert done.returncode == 0, done.stderr.decode(errors="replace")
        assert done.stderr.decode(errors="replace").strip() == ""
        return json.loads(done.stdout)

    # Under a large limit every worker's writes reach the size files.
    large = tmp_path / "large"
    found = pool(large, 1 << 30)
    assert all(count > 0 for counts in found for count in counts)
    written = _entry_usage(large)
    assert written > 4 << 20
    assert _counted_by_size_files(large) >= written * 0.98, (written, _counted_by_size_files(large))

    # Under a limit of a third of that, the store stays within it.
    small = tmp_path / "small"
    limit = written // 3
    assert pool(small, limit) == found
    assert _entry_usage(small) <= limit * 1.1, (_entry_usage(small), limit)


KEYED = textwrap.dedent("""
    import json, sys
    import orvex_stagecache as osc
    store, key, path = sys.argv[1:4]
    cache = osc.Cache(store=store, store_key=key if key != "-" else None)
    with cache.add(path) as image:
        line = image.summary()
    print(json.dumps({"line": line, "computed": sum(row["computed"] for row in cache.statistics()["stages"])}))
""")


def test_a_store_key_serves_only_entries_tagged_with_it_and_a_bad_key_file_is_refused(tmp_path):
    path = tmp_path / "page.png"
    write_png(path, draw_page(seed=5))
    keys = {name: tmp_path / name for name in ("team", "other")}
    keys["team"].write_bytes(b"the team's key")
    keys["other"].write_bytes(b"another key")
    store = tmp_path / "store"

    def run(key):
        done = subprocess.run([sys.executable, "-c", KEYED, str(store), str(keys.get(key, "-")), str(path)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        assert done.returncode == 0, done.stderr.decode(errors="replace")
        return json.loads(done.stdout)

    first, again, unkeyed, other = run("team"), run("team"), run(None), run("other")
    assert first["computed"] > 0
    assert again["computed"] == 0
    assert unkeyed["computed"] == 0  # without a key, tagged entries are read as any entry
    assert other["computed"] == first["computed"]
    assert without_times(other["line"]) == without_times(first["line"])

    with pytest.raises(ValueError, match="needs a store"):
        osc.Cache(store_key=keys["team"])
    with pytest.raises(FileNotFoundError):
        osc.Cache(store=store, store_key=tmp_path / "missing")
    (tmp_path / "empty").write_bytes(b"")
    with pytest.raises(ValueError, match="0 bytes"):
        osc.Cache(store=store, store_key=tmp_path / "empty")


def test_a_folder_that_is_not_a_store_is_refused_and_left_as_it_is(tmp_path):
    folder = tmp_path / "mine"
    folder.mkdir()
    (folder / "notes.entry").write_text("the user's own")
    script = "import sys, orvex_stagecache as osc\nosc.Cache(store=sys.argv[1])\n"
    done = subprocess.run([sys.executable, "-c", script, str(folder)], stderr=subprocess.PIPE, check=False)
    assert done.returncode != 0
    assert "is not a result store" in done.stderr.decode(errors="replace")
    assert sorted(os.listdir(folder)) == ["notes.entry"]
