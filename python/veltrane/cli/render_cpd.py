"""What documents share as PMD CPD's XML report, for the tools that read CPD reports.

A `duplication` per fragment with its `lines` (from the first line to the last
that its first occurrence touches) and `tokens` (words and punctuation marks),
a `file` per occurrence with `path`, `line`, `endline`, `column` and
`endcolumn` (characters from 1, the last one included), and the fragment's
text as the `codefragment`. Binary documents have no lines: their occurrences
are left out, and fragments with fewer than two occurrences left are too.
"""
from __future__ import annotations

import re
from collections.abc import Sequence
from xml.sax.saxutils import quoteattr

from .._corpus import Occurrence, SharedRepeat
from .._corpus_load import LoadedCorpus
from .output import Output

_TOKEN = re.compile(r"\w+|[^\w\s]")
# XML 1.0 has no place for these, even escaped: most control characters and
# the two noncharacters U+FFFE and U+FFFF (decoding never leaves surrogates).
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]")


def tokens(text: str) -> int:
    """Words (runs of letters, digits and _) and single punctuation marks."""
    return len(_TOKEN.findall(text))


def _column(corpus: LoadedCorpus, document: int, position: int) -> int:
    """The character column (from 1) of the byte at `position` of a document."""
    base = corpus.offsets[document]
    line_start = max(base, corpus.data.rfind(b"\n", base, base + position) + 1)
    return len(corpus.data[line_start : base + position].decode("utf-8", "replace")) + 1


def _cdata(text: str) -> str:
    return "<![CDATA[" + text.replace("]]>", "]]]]><![CDATA[>") + "]]>"


def _xml_text(text: str) -> str:
    return _NOT_XML.sub("\ufffd", text)


def render_cpd(output: Output, corpus: LoadedCorpus, found: Sequence[SharedRepeat]) -> None:
    output.write('<?xml version="1.0" encoding="UTF-8"?>\n<pmd-cpd>\n')
    for group in found:
        text_occurrences: list[Occurrence] = [o for o in group.occurrences if o.line is not None]
        if len(text_occurrences) < 2:
            continue
        first = text_occurrences[0]
        fragment = _xml_text(bytes(corpus.document(first.document)[first.start:first.end]).decode("utf-8", "replace"))
        output.write(f'  <duplication lines="{(first.end_line or 0) - (first.line or 0) + 1}" '
                     f'tokens="{tokens(fragment)}">\n')
        for o in text_occurrences:
            output.write(f"    <file path={quoteattr(_xml_text(o.name))} line=\"{o.line}\" endline=\"{o.end_line}\" "
                         f"column=\"{_column(corpus, o.document, o.start)}\" "
                         f"endcolumn=\"{_column(corpus, o.document, o.end - 1)}\"/>\n")
        output.write(f"    <codefragment>{_cdata(fragment)}</codefragment>\n  </duplication>\n")
    output.write("</pmd-cpd>\n")
