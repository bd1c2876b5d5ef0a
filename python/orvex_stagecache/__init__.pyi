import os
from types import TracebackType
from typing import Any, Dict, List, Optional, Type, TypedDict, Union

import numpy as np
import numpy.typing as npt

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

__version__: str

class _StageFigures(TypedDict):
    stage: int
    name: str
    own: int
    adopted: int
    created: int
    computed: int
    loaded: int
    compute_ms: float

class _StoreFigures(TypedDict):
    hits: int
    misses: int
    writes: int
    bytes_read: int
    bytes_written: int
    corrupt: int
    evictions: int
    write_failures: int

class _Statistics(TypedDict):
    stages: List[_StageFigures]
    table_entries: int
    live_result_bytes: int
    store: Optional[_StoreFigures]

def stage_names() -> List[str]: ...
def default_parameters() -> Dict[str, Any]: ...
def canonical_parameters(params: Union[None, PathLike, Dict[str, Any]] = None) -> str: ...

class Image:
    @property
    def id(self) -> str: ...
    @property
    def name(self) -> Union[str, bytes]: ...
    @property
    def released(self) -> bool: ...
    def summary(self) -> Dict[str, Any]: ...
    def regions(self, set_name: str) -> npt.NDArray[np.float32]: ...
    def line_segments(self, set_name: str) -> npt.NDArray[np.float32]: ...
    def result(self, set_name: str, stage: Union[int, str], region: int = 0, branch: int = 0) -> npt.NDArray[np.uint8]: ...
    def release(self) -> None: ...
    def __enter__(self) -> "Image": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool: ...

class Cache:
    def __init__(
        self,
        params: Union[None, PathLike, Dict[str, Any]] = None,
        store: Optional[PathLike] = None,
        store_limit: Optional[int] = None,
        store_key: Optional[PathLike] = None,
    ) -> None: ...
    @property
    def set_names(self) -> List[str]: ...
    @property
    def store(self) -> Optional[str]: ...
    def add(
        self, pixels_or_path: Union[npt.NDArray[np.uint8], PathLike], name: Optional[PathLike] = None
    ) -> Image: ...
    def statistics(self) -> _Statistics: ...
