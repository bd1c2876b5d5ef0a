"""Drawn pages, PNG files of them and the stagecache tool for the module's tests."""
import json
import os
import struct
import subprocess
import zlib

import numpy as np
import pytest


def draw_page(height=600, width=800, seed=0):
    """A BGR page of dark bars on light paper, over a darker table; `seed` varies it."""
    scene = np.empty((height, width, 3), np.uint8)
    scene[:] = (70, 60, 50)
    top, left = height // 12, width // 14
    scene[top:height - top, left:width - left] = (235, 238, 240)
    for area, shift in (((0.12, 0.10, 0.30, 0.35), 1), ((0.50, 0.45, 0.35, 0.18), 2), ((0.70, 0.15, 0.18, 0.30), 3)):
        y, x, h, w = (int(area[0] * height), int(area[1] * width), int(area[2] * height), int(area[3] * width))
        column, i = x, 0
        while column < x + w:
            bar = 2 + (i * 7 + shift + seed) % 4
            scene[y:y + h, column:column + bar] = (25, 25, 25)
            column += bar + 2 + (i * 5 + shift) % 3
            i += 1
    return scene


def _png(width, height, *chunks):
    """PNG bytes of an 8-bit RGB image of that size, with the chunks after its header."""
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + b"".join(chunk(*c) for c in chunks) + chunk(b"IEND", b"")


def write_png(path, bgr):
    """Writes a BGR uint8 array as an 8-bit RGB PNG; `path` may be str, bytes or a Path."""
    rgb = np.ascontiguousarray(bgr[:, :, ::-1])
    height, width = rgb.shape[:2]
    rows = b"".join(b"\x00" + rgb[y].tobytes() for y in range(height))
    with open(path, "wb") as out:
        out.write(_png(width, height, (b"IDAT", zlib.compress(rows, 6))))


def write_png_header(path, width, height):
    """Writes a PNG that declares `width` x `height` pixels and holds none of them."""
    with open(path, "wb") as out:
        out.write(_png(width, height))


def without_times(line):
    """A summary line without what differs from run to run: times and store figures."""
    if isinstance(line, list):
        return [without_times(item) for item in line]
    if not isinstance(line, dict):
        return line
    return {key: without_times(value) for key, value in line.items() if key not in ("seconds", "computeMs", "loaded", "store")}


def stagecache_tool():
    """The stagecache tool's path; skips the test when the tool is not built."""
    tool = os.environ.get("ORVEX_STAGECACHE_TOOL")
    if not tool:
        pytest.skip("the stagecache tool is not built")
    return tool


def tool_lines(paths, *options):
    """The stagecache tool's --jsonl lines for `paths`, by image name."""
    done = subprocess.run([stagecache_tool(), "--quiet", "--jobs", "1", "--jsonl", "-", *options, *paths], stdout=subprocess.PIPE, check=False)
    assert done.returncode in (0, 3), done.returncode
    return {line["image"]: line for line in map(json.loads, done.stdout.decode().splitlines())}


@pytest.fixture
def page():
    return draw_page()


@pytest.fixture
def page_file(tmp_path, page):
    path = tmp_path / "page.png"
    write_png(path, page)
    return path
