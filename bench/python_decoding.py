"""cache.add(path) with the libraries' own decoders beside OpenCV's, in one run:

    PYTHONPATH=<build>/python /usr/bin/python3 python_decoding.py OPENCV_DECODING PAGES PHOTOS

Each path is measured in a process of its own: the module as it is, and the module with
OPENCV_DECODING (the library that puts OpenCV's decoders back) loaded first, the old path.
A process adds every file of PAGES and PHOTOS once, without a store; the figure is the
fastest of three rounds, old and new alternated. Exits 1 when the goal is missed.
"""
import ctypes
import os
import subprocess
import sys
import time


def add_every_file(shim, folders):
    if shim:
        ctypes.CDLL(shim, mode=ctypes.RTLD_GLOBAL)
    import orvex_stagecache as osc
    cache = osc.Cache()
    paths = sorted(os.path.join(folder, name) for folder in folders for name in os.listdir(folder))
    start = time.perf_counter()
    for path in paths:
        with cache.add(path) as image:
            len(image.id)
    return time.perf_counter() - start


def measured(shim, folders):
    out = subprocess.run([sys.executable, __file__, "--child", shim or "", *folders],
                         check=True, capture_output=True, text=True).stdout
    return float(out)


def main(shim, folders):
    new, old = [], []
    for _ in range(3):
        new.append(measured(None, folders))
        old.append(measured(shim, folders))
    ratio = min(new) / min(old)
    met = ratio <= 0.7
    print(f"{'cache.add(path), pages and photographs, no store':<58} {min(new):9.3f} s {min(old):9.3f} s "
          f"{ratio:7.2f} x  {'<= 0.70 x':<10} {'met' if met else 'MISSED'}")
    return 0 if met else 1


if __name__ == "__main__":
    if sys.argv[1] == "--child":
        print(add_every_file(sys.argv[2] or None, sys.argv[3:]))
    else:
        sys.exit(main(sys.argv[1], sys.argv[2:]))
