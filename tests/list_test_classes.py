"""Prints the test classes of Python test modules, one "module.Class" a line.

A class counts when it defines a method whose name starts with "test". The modules are
read, not imported, so listing needs neither the programs nor their environment.
"""
import ast
import sys


def test_classes(path):
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and any(
                isinstance(item, ast.FunctionDef) and item.name.startswith("test")
                for item in node.body):
            yield node.name


for module_path in sys.argv[1:]:
    module = module_path.rsplit("/", 1)[-1].removesuffix(".py")
    for name in test_classes(module_path):
        print(f"{module}.{name}")
