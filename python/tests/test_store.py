"""A Cache with the result store: results found again by a later Cache and process."""
import json
import subprocess
import sys

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
