#!/usr/bin/python3
"""Build step: turns docs/user-guide.md into "User Guide.pdf".

The guide is Markdown (with tables). Its first line, "# Title", becomes a title
page with the version and date; a contents page with page numbers follows, and
every heading below it becomes a PDF bookmark. A paragraph that holds only an
image becomes a figure captioned with the image's alt text. Command names and
code never break across lines, and no ligatures are set, so text copied out of
the PDF is the text that was written.

Nothing is fetched from the network: images must be files in the guide's
folder (or below it), named by relative paths.
"""

import argparse
import datetime
import html
import os
import re
import sys
import textwrap
import urllib.parse
import xml.etree.ElementTree as etree

import markdown
from markdown.extensions import Extension
from markdown.inlinepatterns import InlineProcessor
from markdown.treeprocessors import Treeprocessor
import weasyprint

PROGRAM = "render-user-guide"
# Code words up to this length never break; longer ones (a JSON snippet, say)
# break where they must rather than run off the page.
LONGEST_UNBROKEN_WORD = 40
STYLESHEET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "user-guide.css")
MONTHS = ("January", "February", "March", "April", "May", "June", "July",
          "August", "September", "October", "November", "December")

# Command names written as plain text: ovalis-cli with the subcommand that
# follows it (ovalis-cli backup-library), and options (--library).
COMMAND_PATTERN = (r"(?<![\w-])(?:ovalis-[a-z0-9]+(?:-[a-z0-9]+)*(?: [a-z0-9]+(?:-[a-z0-9]+)+)?"
                   r"|--[a-z][a-z0-9]*(?:-[a-z0-9]+)*)")


class GuideError(Exception):
    pass


class CommandProcessor(InlineProcessor):
    """Wraps a command name met in running text so it is never broken."""

    def handleMatch(self, match, data):
        element = etree.Element("span")
        words = match.group(0).split(" ")
        for index, word in enumerate(words):
            command = etree.SubElement(element, "span")
            command.set("class", "command")
            command.text = markdown.util.AtomicString(word)
            if index + 1 < len(words):
                command.tail = " "
        return element, match.start(0), match.end(0)


class GuideTreeprocessor(Treeprocessor):
    """Paragraphs holding only an image become captioned figures; code spans
    are split into words that do not break, so lines break only at spaces;
    code blocks lose the indentation they share."""

    def __init__(self, md, folder, problems):
        super().__init__(md)
        self.folder = folder
        self.problems = problems

    def run(self, root):
        for parent in list(root.iter()):
            for index, child in enumerate(list(parent)):
                if child.tag == "p" and self.holdsOnlyAnImage(child):
                    parent[index] = self.figureFor(child[0])
        for image in root.iter("img"):
            self.checkImage(image.get("src", ""))
        for parent in list(root.iter()):
            for code in [child for child in parent if child.tag == "code"]:
                if parent.tag == "pre":
                    code.text = markdown.util.AtomicString(textwrap.dedent(code.text or ""))
                else:
                    if parent.tag in ("td", "th") and code.text:
                        # A pipe inside a table's code is written "\|".
                        code.text = markdown.util.AtomicString(code.text.replace("\\|", "|"))
                    self.keepWordsWhole(code)

    @staticmethod
    def holdsOnlyAnImage(paragraph):
        return (len(paragraph) == 1 and paragraph[0].tag == "img"
                and not (paragraph.text or "").strip() and not (paragraph[0].tail or "").strip())

    @staticmethod
    def figureFor(image):
        figure = etree.Element("figure")
        image.tail = None
        figure.append(image)
        caption = etree.SubElement(figure, "figcaption")
        caption.text = image.get("alt", "")
        return figure

    def checkImage(self, source):
        path = localPath(source, self.folder)
        if path is None:
            self.problems.append(f"image {source!r} is not a file beside the guide")
        elif not os.path.isfile(path):
            self.problems.append(f"image {source!r} is missing")

    @staticmethod
    def keepWordsWhole(code):
        if len(code) or not code.text:
            return
        words = re.split(r"(\s+)", code.text)
        code.text = None
        previous = None
        for word in words:
            if not word:
                continue
            if word.isspace() or len(word) > LONGEST_UNBROKEN_WORD:
                if previous is None:
                    code.text = markdown.util.AtomicString((code.text or "") + word)
                else:
                    previous.tail = markdown.util.AtomicString((previous.tail or "") + word)
                continue
            span = etree.SubElement(code, "span")
            span.set("class", "word")
            span.text = markdown.util.AtomicString(word)
            previous = span


class GuideExtension(Extension):
    def __init__(self, folder, problems):
        super().__init__()
        self.folder = folder
        self.problems = problems

    def extendMarkdown(self, md):
        md.inlinePatterns.register(CommandProcessor(COMMAND_PATTERN, md), "command", 15)
        # After the inline patterns (20) have made the images and code spans.
        md.treeprocessors.register(GuideTreeprocessor(md, self.folder, self.problems), "guide", 5)


def localPath(source, folder):
    """The file a relative image address names inside folder, or None."""
    parts = urllib.parse.urlsplit(source)
    if parts.scheme or parts.netloc or not parts.path or parts.path.startswith("/"):
        return None
    path = os.path.realpath(os.path.join(folder, urllib.parse.unquote(parts.path)))
    if os.path.commonpath([path, os.path.realpath(folder)]) != os.path.realpath(folder):
        return None
    return path


def localFetcher(folders, refused):
    """A URL fetcher that reads files inside folders and nothing else; the
    addresses it refuses (raw HTML in the guide, say) are added to refused."""
    roots = [os.path.realpath(folder) for folder in folders]

    def fetch(url):
        parts = urllib.parse.urlsplit(url)
        path = os.path.realpath(urllib.parse.unquote(parts.path)) if parts.scheme == "file" else None
        if path is None or not any(os.path.commonpath([path, root]) == root for root in roots):
            refused.append(url)
            raise GuideError(f"refusing to load {url}")
        return weasyprint.default_url_fetcher(url)

    return fetch


def longDate(date):
    return f"{date.day} {MONTHS[date.month - 1]} {date.year}"


def buildDate():
    """Today, or the date reproducible builds pin through SOURCE_DATE_EPOCH."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch and epoch.isdigit():
        return datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc).date()
    return datetime.date.today()


def contentsOf(tokens):
    items = []
    for token in tokens:
        name = html.escape(html.unescape(token["name"]))
        items.append(f'<li class="level-{token["level"]}"><a href="#{html.escape(token["id"])}">{name}</a></li>')
        items.extend(contentsOf(token["children"]))
    return items


def guideHtml(text, folder, version, date, icon):
    lines = text.splitlines()
    if not lines or not re.match(r"#\s+\S", lines[0]):
        raise GuideError("the guide must begin with a '# Title' line")
    title = lines[0].lstrip("#").strip()
    problems = []
    # Nested list items are indented by two spaces, as the project's other
    # Markdown is (and as GitHub shows it); code blocks by four, or fenced.
    converter = markdown.Markdown(
        extensions=["tables", "fenced_code", "sane_lists", "toc", GuideExtension(folder, problems)],
        extension_configs={"toc": {"toc_depth": "2-6"}}, tab_length=2)
    body = converter.convert("\n".join(lines[1:]))
    if problems:
        raise GuideError("; ".join(problems))
    iconHtml = f'<img class="icon" src="{html.escape(icon)}" alt="">' if icon else ""
    contents = "\n".join(contentsOf(converter.toc_tokens))
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{html.escape(title)}</title>
<meta name="generator" content="Ovalis {html.escape(version)}">
<meta name="dcterms.created" content="{date.isoformat()}">
</head>
<body>
<section class="title-page">
{iconHtml}
<h1>{html.escape(title)}</h1>
<p class="version">Version {html.escape(version)}</p>
<p class="date">{longDate(date)}</p>
</section>
<nav class="contents">
<h2 class="contents-heading">Contents</h2>
<ul>
{contents}
</ul>
</nav>
<main>
{body}
</main>
</body>
</html>
"""


def render(guidePath, pdfPath, version, icon):
    try:
        with open(guidePath, encoding="utf-8") as guide:
            text = guide.read()
    except (OSError, UnicodeDecodeError) as error:
        raise GuideError(f"cannot read {guidePath}: {error}")
    folder = os.path.dirname(os.path.abspath(guidePath))
    iconUrl = None
    folders = [folder, os.path.dirname(STYLESHEET)]
    if icon:
        iconUrl = "file://" + urllib.parse.quote(os.path.abspath(icon))
        folders.append(os.path.dirname(os.path.abspath(icon)))
    refused = []
    fetcher = localFetcher(folders, refused)
    document = weasyprint.HTML(string=guideHtml(text, folder, version, buildDate(), iconUrl),
                               base_url=folder + os.sep, url_fetcher=fetcher)
    stylesheet = weasyprint.CSS(filename=STYLESHEET, url_fetcher=fetcher)
    temporary = pdfPath + ".part"
    try:
        document.write_pdf(temporary, stylesheets=[stylesheet], optimize_size=("fonts", "images"))
        if refused:
            raise GuideError("refused to load " + ", ".join(refused))
        os.replace(temporary, pdfPath)
    except OSError as error:
        raise GuideError(f"cannot write {pdfPath}: {error}")
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def main():
    parser = argparse.ArgumentParser(prog=PROGRAM, description="Renders the Markdown user guide to PDF.")
    parser.add_argument("guide", help="the Markdown guide; its images are files beside it")
    parser.add_argument("output", help="the PDF to write")
    parser.add_argument("--version", required=True, help="the version named on the title page")
    parser.add_argument("--icon", help="an image shown on the title page")
    arguments = parser.parse_args()
    try:
        render(arguments.guide, arguments.output, arguments.version, arguments.icon)
    except GuideError as error:
        print(f"{PROGRAM}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
