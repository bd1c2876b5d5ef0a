"""The OrvexStagecache image pipeline's cache from Python.

    import orvex_stagecache as osc
    cache = osc.Cache()                      # the built-in parameter sets
    with cache.add("page.png") as image:     # or a uint8 numpy array (BGR)
        print(image.id, image.regions("standard").shape)
        binary = image.result("fine", "region binary image", region=0)

Each image runs through every parameter set's tree; results equal between sets are
computed once, and with ``store=`` kept on disk for later runs and other processes.
``orvex_stagecache.dask.map_images`` spreads a folder over a Dask cluster.
"""
from . import _core
from ._core import Image, __version__, canonical_parameters, default_parameters, stage_names

__all__ = ["Cache", "Image", "canonical_parameters", "default_parameters", "stage_names"]

# The store's figures, by the names of _core.StoreStatistics' attributes and of the dict's keys.
_STORE_FIGURES = ("hits", "misses", "writes", "bytes_read", "bytes_written", "corrupt", "evictions", "write_failures")


class Cache(_core.Cache):
    __doc__ = _core.Cache.__doc__

    def statistics(self):
        """What the process's cache did (every Cache of the process counts into the same
        figures), as a dict:

        - ``stages``: stages 1 to 23 in order, each a dict of ``stage`` (its number),
          ``name``, the requests answered from a node's own results (``own``), by adopting
          another tree's (``adopted``) or by creating one (``created``), the computations
          (``computed``), the results loaded from the store instead (``loaded``), and the
          computations' time in milliseconds (``compute_ms``);
        - ``table_entries``: the results in the cache's table now;
        - ``live_result_bytes``: the pixel bytes live results hold now, approximately;
        - ``store``: None without a store, else its ``hits``, ``misses``, ``writes``,
          ``bytes_read``, ``bytes_written``, ``corrupt`` (entries found damaged, taken as
          misses and replaced), ``evictions`` (entries removed to stay within the size
          limit) and ``write_failures``.
        """
        figures = self._statistics()
        store = figures.store
        return {
            "stages": [
                {
                    "stage": stage,
                    "name": name,
                    "own": row.own_results,
                    "adopted": row.adopted_results,
                    "created": row.created_results,
                    "computed": row.computations,
                    "loaded": row.loads,
                    "compute_ms": row.compute_nanoseconds / 1e6,
                }
                for stage, (name, row) in enumerate(zip(stage_names(), figures.stages), start=1)
            ],
            "table_entries": figures.table_entries,
            "live_result_bytes": figures.live_result_bytes,
            "store": None if store is None else {figure: getattr(store, figure) for figure in _STORE_FIGURES},
        }
