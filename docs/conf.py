# The documentation site, built by `make docs` with Sphinx and MyST from the
# Markdown pages here into build/docs/html.  The reference is read from the
# built extension modules themselves (their text signatures and doc
# strings), so the Makefile puts them on the path before Sphinx starts.
import pathlib
import re

import merandol

project = "merandol"
author = "merandol's developers"
copyright = "merandol's developers"
release = version = (
    merandol.__version__
    if hasattr(merandol, "__version__")
    else re.search(r'^version = "([^"]+)"', (pathlib.Path(__file__).parents[1] / "pyproject.toml").read_text(), re.M)[1]
)

extensions = ["myst_parser", "sphinx.ext.autodoc", "sphinx.ext.napoleon", "sphinx.ext.intersphinx"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3
source_suffix = {".md": "markdown"}
exclude_patterns = ["README.md"]
root_doc = "index"

# Every cross-reference must resolve: the standard library's against the
# inventory of Debian's python3.14-doc, read from the disk, so that the
# build needs no network.
nitpicky = True
intersphinx_mapping = {"python": ("https://docs.python.org/3", "/usr/share/doc/python3.14/html/objects.inv")}
intersphinx_disabled_reftypes = ["*"]
# Names the doc strings mention that no inventory here holds.
nitpick_ignore_regex = [("py:class", r"(numpy|pyarrow|polars|pydantic|msgspec)\..*"), ("py:class", r"array-like")]

autodoc_member_order = "bysource"
autodoc_default_options = {"members": True, "undoc-members": True, "special-members": False}
napoleon_google_docstring = True
napoleon_numpy_docstring = False

html_theme = "furo"
html_title = f"merandol {release}"
html_static_path = []
html_theme_options = {"navigation_with_keys": True}
