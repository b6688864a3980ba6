"""What a corpus is made of: its inputs (sources), the kind of each, and the names of its documents."""
from __future__ import annotations

import bisect
import enum
from collections.abc import Sequence
from typing import NamedTuple, Union, overload

#: A piece of an input: [start, end) of the bytes of a JSON Lines input's text (as gzip gives it, when
#: compressed), or of the row groups of a Parquet input; end None: to the input's end, however long it is now.
Cut = tuple[int, Union[int, None]]

JSONL_SUFFIXES = (".jsonl", ".jsonl.gz")
PARQUET_SUFFIXES = (".parquet",)


def gzipped(name: str) -> bool:
    """Whether a JSON Lines input is read (and written back) through gzip: its name ends in .gz."""
    return name.lower().endswith(".gz")


class Kind(enum.Enum):
    """How a source holds its documents, and so how the writer mirrors it."""

    #: A file (local or URL): one document of raw bytes, written back whole.
    FILE = "file"
    #: JSON Lines, maybe gzip-compressed: each record's text field is a document.
    JSONL = "jsonl"
    #: Parquet: each row's value in one column is a document.
    PARQUET = "parquet"
    #: Bytes or text handed to `load_documents`: one document, written back as a file named after it.
    DATA = "data"


class Source(NamedTuple):
    """One input of a corpus and the documents it gave: documents first .. first + documents - 1.

    (A named tuple: a corpus of many small files makes one per file, and these are made fastest.)
    """

    name: str
    kind: Kind
    first: int
    documents: int
    #: A JSON Lines input read through gzip (and so written back through it).
    gzip: bool = False
    #: (device, inode) of a local file, so that the writer never writes over it.
    identity: Union[tuple[int, int], None] = None
    #: (size, modification time in ns) of a local input the writer reads again, to notice a change.
    stamp: Union[tuple[int, int], None] = None

    @property
    def numbered(self) -> bool:
        """Whether its documents are named PATH:N (records or rows) rather than by the path alone."""
        return self.kind in (Kind.JSONL, Kind.PARQUET)


class InputError(ValueError):
    """An input that cannot be read or a record that is no document: its name and the one-line reason.

    `name` is what the message names (a path, or PATH:N for a record or row);
    `input` is the input it belongs to, which is left out of the corpus as a whole.
    """

    def __init__(self, name: str, reason: str, *, input: Union[str, None] = None) -> None:
        super().__init__(f"{name}: {reason}")
        self.name = name
        self.reason = reason
        self.input = name if input is None else input


def _reason(reason: str, number: int, line_number: int) -> str:
    return reason if number == line_number else f"{reason} (line {line_number})"


class RecordError(InputError):
    """A record or row that is no document, as NAME:N, with its number, its line and the problem kept apart.

    (A Parquet row's line is its number. A piece of an input numbers them from
    its own first: whoever knows the records and lines before it makes the
    input's numbers.)
    """

    def __init__(self, name: str, number: int, line_number: int, problem: str) -> None:
        super().__init__(f"{name}:{number}", _reason(problem, number, line_number), input=name)
        self.number = number
        self.line_number = line_number
        self.problem = problem


def kind_of(path: str, field: Union[str, None]) -> Kind:
    """How to read the input at `path`: without a field every input is one document of raw bytes.

    With a field, JSON Lines (.jsonl, .jsonl.gz) and Parquet (.parquet) inputs
    give one document per record or row; any other file is still one document.
    """
    if field is None:
        return Kind.FILE
    lower = path.lower()
    if lower.endswith(JSONL_SUFFIXES):
        return Kind.JSONL
    if lower.endswith(PARQUET_SUFFIXES):
        return Kind.PARQUET
    return Kind.FILE


class DocumentNames(Sequence[str]):
    """The documents' names in corpus order: the path of a file, PATH:N for record or row N (from 1).

    Made on demand from the sources: a corpus of millions of short records
    keeps no string per record.
    """

    def __init__(self, sources: Sequence[Source]) -> None:
        self._sources = [source for source in sources if source.documents > 0]
        self._firsts = [source.first for source in self._sources]
        self._length = sum(source.documents for source in self._sources)

    def __len__(self) -> int:
        return self._length

    @overload
    def __getitem__(self, index: int) -> str: ...

    @overload
    def __getitem__(self, index: slice) -> list[str]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[str, list[str]]:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(self._length))]
        if index < 0:
            index += self._length
        if not 0 <= index < self._length:
            raise IndexError(f"document {index} is out of range (the corpus has {self._length})")
        source = self._sources[bisect.bisect_right(self._firsts, index) - 1]
        return f"{source.name}:{index - source.first + 1}" if source.numbered else source.name

    def __repr__(self) -> str:
        shown = ", ".join(repr(name) for name in self[:3])
        return f"DocumentNames([{shown}{', ...' if self._length > 3 else ''}], {self._length} documents)"
