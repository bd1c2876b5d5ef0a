import os
from typing import Any, Dict, Iterable, List, Optional, Union

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

def map_images(
    paths: Iterable[PathLike],
    client: Any,
    params: Union[None, PathLike, Dict[str, Any]] = None,
    store: Optional[PathLike] = None,
) -> List[Dict[str, Any]]: ...
