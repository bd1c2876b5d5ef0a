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
from ._core import Cache, Image, canonical_parameters, default_parameters, stage_names

__all__ = ["Cache", "Image", "canonical_parameters", "default_parameters", "stage_names"]
