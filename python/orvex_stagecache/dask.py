"""Images mapped over a Dask cluster, one Cache per worker process.

    from distributed import Client, LocalCluster
    from orvex_stagecache.dask import map_images
    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        lines = map_images(paths, client, params="params.json", store="/shared/results")

Each worker process keeps one Cache per parameter sets and store, the sets named by what
they are (their canonical text), so that a parameter file changed between two calls is
read again; with a store on a volume every machine mounts, workers reuse each other's
results.
"""
import collections
import json
import os
import threading

from ._core import Cache, canonical_parameters

# The Caches of this worker process by (canonical parameters, store), the most recently
# used last; a few are kept, so that a worker serving many parameter files does not keep
# every tree it ever built.
_CACHES_KEPT = 8
_caches = collections.OrderedDict()
_caches_lock = threading.Lock()


def _cache_for(params, store):
    # The parameters are read on every call: a file that changed gives other sets, and so
    # another Cache, built from the very text that names it.
    text = canonical_parameters(params)
    key = (text, None if store is None else os.fspath(store))
    with _caches_lock:
        cache = _caches.get(key)
        if cache is None:
            cache = _caches[key] = Cache(params=json.loads(text), store=store)
            while len(_caches) > _CACHES_KEPT:
                _caches.popitem(last=False)
        else:
            _caches.move_to_end(key)
        return cache


def _summary_of(path, params, store):
    return _cache_for(params, store)._summary_of_file(path)


def map_images(paths, client, params=None, store=None):
    """Runs every image file of ``paths`` through the parameter sets on the workers of
    ``client`` (a ``distributed.Client``) and returns one summary dict per path, in input
    order: the stagecache tool's ``--jsonl`` line for the file, or ``{"image", "skipped"}``
    with the reason when it could not be read (missing, unreadable, not an image, or a name
    no file can have); a path never makes the whole call raise. Paths are str, bytes or
    ``os.PathLike`` in any encoding, and each line's ``"image"`` is the path as
    ``os.fspath`` gives it (bytes stay bytes). The lines are the tool's format, shared with
    its output, so their keys keep its names (``imageId``, ``computeMs``, ``lineSegments``)
    rather than the snake_case of ``Cache.statistics()``. ``params`` and ``store`` are as for
    ``Cache``; a parameter file is read again on every call, so a changed file takes
    effect at once. Paths, parameter files and the store must be reachable by every
    worker."""
    paths = [os.fspath(path) for path in paths]
    futures = client.map(_summary_of, paths, params=params, store=store, pure=False)
    return client.gather(futures)
