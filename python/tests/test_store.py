"""A Cache with the result store: results found again by a later Cache and process."""
import json
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
    written = first.statistics()["store"]["writes"]
    assert written > 20

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
    assert run["store"]["writeFailures"] >= 1
    if failure == "full":
        # What was stored before the disk filled up is still read: the first page comes back loaded.
        assert sum(stage["loaded"] for stage in run["lines"][-1]["stages"]) > 0
    warnings = [line for line in done.stderr.decode(errors="replace").splitlines() if line.strip()]
    assert len(warnings) == 1 and "going on without writing" in warnings[0], warnings
