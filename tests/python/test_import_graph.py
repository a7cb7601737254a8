"""The package's modules import each other without circles: every import in
the source (top level, inside functions, under TYPE_CHECKING) is an arrow, and
the arrows form no cycle. And each module imports on its own, first, in a
fresh interpreter."""

from __future__ import annotations

import ast
import subprocess
import sys
from pathlib import Path

import pytest

PACKAGE = Path(__file__).resolve().parents[2] / "python" / "strokegraph"

# Arrows that still run back up, to be turned round: geo.finish builds the
# Centerlines result it returns (its caller in api.py could do that instead).
KNOWN: set[tuple[str, str]] = set()


def modules() -> dict[str, tuple[Path, bool]]:
    found = {}
    for path in sorted(PACKAGE.rglob("*.py")):
        parts = list(path.relative_to(PACKAGE.parent).with_suffix("").parts)
        is_package = parts[-1] == "__init__"
        found[".".join(parts[:-1] if is_package else parts)] = (path, is_package)
    return found


def import_graph() -> dict[str, set[str]]:
    """Module -> the package's modules it imports (itself and its parents left out:
    Python imports a module's parents before it anyway)."""
    mods = modules()
    graph: dict[str, set[str]] = {}
    for name, (path, is_package) in mods.items():
        package = name if is_package else name.rsplit(".", 1)[0]
        targets: set[str] = set()
        for node in ast.walk(ast.parse(path.read_text(), str(path))):
            if isinstance(node, ast.ImportFrom):
                base = node.module or ""
                if node.level:
                    up = package.split(".")[: len(package.split(".")) - node.level + 1]
                    base = ".".join(up + ([node.module] if node.module else []))
                # `from X import y` imports the module X.y when there is one, else X.
                for alias in node.names:
                    targets.add(f"{base}.{alias.name}" if f"{base}.{alias.name}" in mods else base)
            elif isinstance(node, ast.Import):
                targets.update(alias.name for alias in node.names)
        graph[name] = {t for t in targets if t in mods and t != name and not name.startswith(t + ".")}
    return graph


def find_cycle(graph: dict[str, set[str]]) -> list[str]:
    """One cycle of the graph as a list of modules (first = last), or []."""
    state: dict[str, int] = {}
    stack: list[str] = []

    def visit(node: str) -> list[str]:
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph[node]):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return []

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return []


def test_graph_sees_imports_of_every_kind():
    graph = import_graph()
    assert "strokegraph.io._drawing" in graph["strokegraph.io.svg"]   # from ._drawing import ...
    assert "strokegraph.geo" in graph["strokegraph.result"]            # inside a method
    assert "strokegraph.export" in graph["strokegraph.plotting"]       # under TYPE_CHECKING
    assert find_cycle({"a": {"b"}, "b": {"c"}, "c": {"a"}}) == ["a", "b", "c", "a"]


def test_package_imports_form_no_cycle():
    graph = import_graph()
    for source, target in KNOWN:
        graph[source].discard(target)
    assert find_cycle(graph) == []
    assert not graph["strokegraph.export"] & {"strokegraph.result", "strokegraph.plotting"}
    assert "strokegraph.result" not in graph["strokegraph.plotting"]


@pytest.mark.parametrize("module", ["result", "export", "plotting", "geo", "api"])
def test_module_imports_first_in_a_fresh_interpreter(module: str):
    run = subprocess.run([sys.executable, "-c", f"import strokegraph.{module}"], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
