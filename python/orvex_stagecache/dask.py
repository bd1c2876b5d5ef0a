"""Images mapped over a Dask cluster, one Cache per worker process.

    from distributed import Client, LocalCluster
    from orvex_stagecache.dask import map_images
    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        lines = map_images(paths, client, params="params.json", store="/shared/results")

Each worker process keeps one Cache per (params, store) and adds the files it is given;
with a store on a volume every machine mounts, workers reuse each other's results.
"""
import json
import os
import threading

from ._core import Cache

_caches = {}
_caches_lock = threading.Lock()


def _cache_key(params, store):
    if params is None or isinstance(params, (str, bytes, os.PathLike)):
        params_key = None if params is None else os.fsdecode(params)
    else:
        params_key = json.dumps(params, sort_keys=True)
    return params_key, None if store is None else os.fsdecode(store)


def _cache_for(params, store):
    key = _cache_key(params, store)
    with _caches_lock:
        cache = _caches.get(key)
        if cache is None:
            cache = _caches[key] = Cache(params=params, store=store)
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
    ``os.fspath`` gives it (bytes stay bytes). ``params`` and ``store`` are as for
    ``Cache``; paths, parameter files and the store must be reachable by every worker."""
    paths = [os.fspath(path) for path in paths]
    futures = client.map(_summary_of, paths, params=params, store=store, pure=False)
    return client.gather(futures)
