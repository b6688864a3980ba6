"""What documents share, as a table or as one JSON object."""
from __future__ import annotations

import json
from collections.abc import Sequence

from .._corpus import SharedRepeat, SharedRepeats
from .._corpus_load import LoadedCorpus
from .output import Output
from .preview import hex_preview, preview

#: Occurrences listed under each fragment in the table; the rest are counted.
TABLE_OCCURRENCES = 5


def place(occurrence_name: str, line: object, end_line: object, start: int, end: int) -> str:
    """Where an occurrence lies: NAME:LINE-END_LINE for text, NAME@START-END for binary."""
    if line is None:
        return f"{occurrence_name}@{start}-{end}"
    return f"{occurrence_name}:{line}" + (f"-{end_line}" if end_line != line else "")


def render_table(output: Output, corpus: LoadedCorpus, found: Sequence[SharedRepeat]) -> None:
    if not found:
        output.write(f"no repeated fragment in {len(corpus)} documents\n")
        return
    output.write(f"{'#':>3}  {'length':>8}  {'count':>6}  {'docs':>5}  {'saved':>10}  preview\n")
    for rank, group in enumerate(found, 1):
        first = group.occurrences[0]
        document = corpus.document(first.document)
        shown = (hex_preview if corpus.binary[first.document] else preview)(document, first.start, first.end)
        output.write(f"{rank:>3}  {group.length:>8}  {group.count:>6}  {group.documents:>5}  {group.saved:>10}  "
                     f"{shown}\n")
        for occurrence in group.occurrences[:TABLE_OCCURRENCES]:
            output.write(f"{'':>5}{place(occurrence.name, occurrence.line, occurrence.end_line, occurrence.start, occurrence.end)}\n")
        if len(group.occurrences) > TABLE_OCCURRENCES:
            output.write(f"{'':>5}... and {len(group.occurrences) - TABLE_OCCURRENCES} more\n")


def group_json(group: SharedRepeat) -> dict[str, object]:
    return {
        "length": group.length,
        "count": group.count,
        "documents": group.documents,
        "saved": group.saved,
        "occurrences": [{"document": o.name, "start": o.start, "end": o.end, "line": o.line, "end_line": o.end_line}
                        for o in group.occurrences],
    }


def render_json(output: Output, found: SharedRepeats, groups: Sequence[SharedRepeat]) -> None:
    """{"documents": [names in corpus order], "groups": [...]} as one object, written group by group."""
    output.write('{"documents": ' + json.dumps(list(found.names), ensure_ascii=False) + ', "groups": [')
    for i, group in enumerate(groups):
        output.write(("" if i == 0 else ", ") + json.dumps(group_json(group), ensure_ascii=False))
    output.write("]}\n")
