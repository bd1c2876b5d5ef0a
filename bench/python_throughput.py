"""Images per second through the Python module against the stagecache tool, in one run:

    PYTHONPATH=<build>/python /usr/bin/python3 python_throughput.py TOOL PAGES

The tool with --jobs 1 and the module on one thread process the same files with the
default sets (time per image, the tool's own wall time against the module's loop); then
the module on one and on two Python threads sharing one Cache. Each figure is the best of
two rounds. Exits 1 when a target is missed.
"""
import concurrent.futures
import json
import os
import subprocess
import sys
import time

import orvex_stagecache as osc


def best_of_two(run):
    return min(run(), run())


def tool_seconds_per_image(tool, paths):
    def run():
        out = subprocess.run([tool, "--quiet", "--json", "--jobs", "1", *paths],
                             check=True, capture_output=True, text=True).stdout
        return json.loads(out)["totals"]["wallSeconds"]
    return best_of_two(run) / len(paths)


def module_seconds(cache, paths, threads):
    def one(path):
        with cache.add(path) as image:
            return len(image.id)

    def run():
        start = time.perf_counter()
        if threads == 1:
            for path in paths:
                one(path)
        else:
            with concurrent.futures.ThreadPoolExecutor(threads) as pool:
                list(pool.map(one, paths))
        return time.perf_counter() - start
    return best_of_two(run)


def main(tool, pages):
    paths = sorted(os.path.join(pages, name) for name in os.listdir(pages))
    cache = osc.Cache()
    missed = False

    def row(figure, measured, target="", met=True):
        nonlocal missed
        print(f"{figure:<62} {measured:>18}  {target:<10} {'' if not target else ('met' if met else 'MISSED')}")
        missed = missed or not met

    tool_per_image = tool_seconds_per_image(tool, paths)
    one_thread = module_seconds(cache, paths, 1)
    two_threads = module_seconds(cache, paths, 2)
    module_per_image = one_thread / len(paths)
    row(f"{len(paths)} pages: tool --jobs 1, ms per image", f"{1e3 * tool_per_image:.2f}")
    ratio = module_per_image / tool_per_image
    row("python, one thread / tool --jobs 1, time per image", f"{ratio:.3f}", "<= 1.05", ratio <= 1.05)
    row("python, images per second on 1 / 2 threads",
        f"{len(paths) / one_thread:.1f} / {len(paths) / two_threads:.1f}")
    speedup = one_thread / two_threads
    row("python, 2 threads / 1 thread, images per second", f"{speedup:.2f}", ">= 1.5", speedup >= 1.5)
    return 1 if missed else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: python_throughput.py TOOL PAGES")
    sys.exit(main(sys.argv[1], sys.argv[2]))
