"""Imports of the optional dependencies, each installed with an extra."""

from __future__ import annotations

import importlib
from types import ModuleType

# module -> the extra of strokegraph that installs it
_EXTRA = {"shapely": "shapely", "networkx": "networkx", "matplotlib": "plot", "geopandas": "geopandas",
          "pandas": "geopandas", "pyproj": "geopandas", "pyogrio": "gis", "pyarrow": "gis"}


def require(module: str, what: str) -> ModuleType:
    """Import `module` for `what`, or say which extra to install."""
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        top = module.split(".")[0]
        raise ImportError(f"{what} needs {top}: pip install 'strokegraph[{_EXTRA[top]}]'") from exc
