"""Checks the site build makes beyond mkdocs' own strict mode.

mkdocs 1.4 names a page left out of the navigation only as information, and
does not look at the part of a link after "#"; both are faults here. So is
text outside code that reads as an HTML tag ("<prefix>ZEL_DLL.DLL"), which
a forge and the site both drop from the page. The Markdown files outside
docs/ (README.md and the rest) link into docs/ and are read on a forge: their
links to files of the repository and their tags are checked too.
"""

import pathlib
import posixpath
import re

from mkdocs.exceptions import PluginError

# A Markdown link or image: [text](target) or [text](target "title").
LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
FENCE = re.compile(r"^(```|~~~).*?^\1", re.M | re.S)
# A code span may run over line ends, not over a blank line.
INLINE_CODE = re.compile(r"`(?:[^`\n]|\n(?![ \t]*\n))*`")
EXTERNAL = re.compile(r"^[a-z][a-z0-9+.-]*:", re.I)
TAG = re.compile(r"</?[A-Za-z][^>\n]*>")

# Markdown files outside docs/ whose links are checked, from the repository's root.
REPOSITORY_PAGES = ("README.md", "CONTRIBUTING.md", "CHANGELOG.md")

_anchors = {}  # page source path -> the ids of its headings
_links = []  # (page source path, target page source path, anchor)
_tags = []  # (page, text that reads as a tag)


def without_code(markdown):
    return INLINE_CODE.sub("", FENCE.sub("", markdown))


def links_in(markdown):
    """The link targets of a Markdown text, leaving out code."""
    return [match.group(1) for match in LINK.finditer(without_code(markdown))]


def tags_in(markdown):
    """Text outside code that a Markdown reader takes for an HTML tag."""
    return TAG.findall(without_code(markdown))


def on_nav(nav, config, files):
    in_nav = {page.file.src_path for page in nav.pages}
    left_out = sorted(f.src_path for f in files.documentation_pages() if f.src_path not in in_nav)
    if left_out:
        raise PluginError("pages missing from the nav of mkdocs.yml: " + ", ".join(left_out))
    return nav


def on_page_markdown(markdown, page, config, files):
    here = posixpath.dirname(page.file.src_path)
    _tags.extend((page.file.src_path, tag) for tag in tags_in(markdown))
    for target in links_in(markdown):
        if EXTERNAL.match(target):
            continue
        path, _, anchor = target.partition("#")
        source = posixpath.normpath(posixpath.join(here, path)) if path else page.file.src_path
        if source.endswith(".md") and anchor:
            _links.append((page.file.src_path, source, anchor))
    return markdown


def on_page_content(html, page, config, files):
    ids = set()

    def collect(items):
        for item in items:
            ids.add(item.id)
            collect(item.children)

    collect(page.toc)
    _anchors[page.file.src_path] = ids
    return html


def on_post_build(config):
    faults = [
        f"{page}: no heading '#{anchor}' in {target}"
        for page, target, anchor in _links
        if target in _anchors and anchor not in _anchors[target]
    ]
    faults += [f"{page}: {tag} reads as an HTML tag and is not shown: put it in `code`" for page, tag in _tags]
    root = pathlib.Path(config["config_file_path"]).parent
    for name in REPOSITORY_PAGES:
        page = root / name
        if not page.exists():
            faults.append(f"{name} is missing")
            continue
        text = page.read_text(encoding="utf-8")
        faults += [f"{name}: {tag} reads as an HTML tag and is not shown: put it in `code`" for tag in tags_in(text)]
        for target in links_in(text):
            path = target.partition("#")[0]
            if path and not EXTERNAL.match(target) and not (root / path).exists():
                faults.append(f"{name}: link to {path}, which does not exist")
    _links.clear()
    _anchors.clear()
    _tags.clear()
    if faults:
        raise PluginError("broken links:\n  " + "\n  ".join(faults))
