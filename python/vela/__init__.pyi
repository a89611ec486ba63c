import os
from typing import Any, Literal, Mapping, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

_Point = npt.ArrayLike
_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

class Mesh:
    @property
    def points(self) -> npt.NDArray[np.float64]: ...
    @property
    def cells(self) -> dict[str, npt.NDArray[np.int32]]: ...
    @property
    def far_nodes(self) -> npt.NDArray[np.float64]: ...
    @property
    def kind(self) -> Literal["nway", "bend", "system"]: ...
    @property
    def nodes_before_merge(self) -> Optional[int]: ...
    @property
    def merge_tolerance(self) -> Optional[float]: ...
    @property
    def name(self) -> str: ...
    @property
    def regions(self) -> dict[str, npt.NDArray[np.int32]]: ...
    @property
    def region_names(self) -> list[str]: ...
    @property
    def patches(self) -> dict[str, dict[str, npt.NDArray[np.int32]]]: ...
    def vtk_cells(self) -> dict[int, npt.NDArray[np.int32]]: ...
    def quality(self, tolerance: Optional[float] = ...) -> dict[str, Any]: ...
    def write(self, path: _Path, encoding: Literal["default", "ascii", "binary"] = ...) -> list[str]: ...
    def to_meshio(self) -> Any: ...

class Refused(ValueError):
    reason: str
    def __init__(self, message: str, reason: str) -> None: ...

class JunctionRefused(Refused):
    runner: int
    other_runner: int
    value: Optional[float]
    limit: Optional[float]
    unit: Optional[Literal["degrees", "length", "ratio", "count", "bytes"]]
    def __init__(
        self,
        message: str,
        reason: str,
        runner: int = ...,
        other_runner: int = ...,
        value: Optional[float] = ...,
        limit: Optional[float] = ...,
        unit: Optional[str] = ...,
    ) -> None: ...

class SystemRefused(Refused):
    point: Optional[str]
    runner: Optional[str]
    value: Optional[float]
    limit: Optional[float]
    unit: Optional[Literal["degrees", "length", "ratio", "count", "bytes"]]
    junction_reason: Optional[str]
    def __init__(
        self,
        message: str,
        reason: str,
        point: Optional[str] = ...,
        runner: Optional[str] = ...,
        value: Optional[float] = ...,
        limit: Optional[float] = ...,
        unit: Optional[str] = ...,
        junction_reason: Optional[str] = ...,
    ) -> None: ...

def mesh_junction(
    center: _Point,
    far_points: _Point,
    radii: npt.ArrayLike,
    inner_share: float = ...,
    outer_share: float = ...,
    first_circle_nodes: int = ...,
    inner_layers: npt.ArrayLike = ...,
    outer_layers: npt.ArrayLike = ...,
    call: Literal["auto", "nway", "bend"] = ...,
    single_precision: bool = ...,
    as_constructed: bool = ...,
    memory_limit: Optional[float] = ...,
) -> Mesh: ...
def runner_length(
    center: _Point, far_points: _Point, radii: npt.ArrayLike, margin: Sequence[int] = ...
) -> npt.NDArray[np.float64]: ...
def mesh_system(
    system: Union[Mapping[str, Any], _Path],
    threads: int = ...,
    memory_limit: Optional[float] = ...,
    as_constructed: bool = ...,
) -> Mesh: ...
