"""The typed stub names what the module holds, and nothing else."""

import ast
import os

import tessamire

STUB = os.path.join(os.path.dirname(tessamire.__file__), "__init__.pyi")


def public(names):
    return {n for n in names if not n.startswith("_")}


def test_stub_matches_the_module():
    tree = ast.parse(open(STUB).read())
    functions = {n.name for n in tree.body if isinstance(n, ast.FunctionDef)}
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    module = {n for n in tessamire.__all__ if callable(getattr(tessamire, n))}
    assert functions | set(classes) == module
    for name, node in classes.items():
        members = {m.name for m in node.body if isinstance(m, ast.FunctionDef)}
        assert public(members) == public(dir(getattr(tessamire, name))) - {"mro"}, name


def test_every_call_has_a_docstring():
    for name in tessamire.__all__:
        value = getattr(tessamire, name)
        if callable(value):
            assert value.__doc__, name
            for member in public(vars(value)) if isinstance(value, type) else ():
                assert getattr(value, member).__doc__, f"{name}.{member}"
