"""Corpus inputs beyond local files: Parquet (through pyarrow) and fsspec URLs (memory:// here); the listing
shared with scan, and the documents' names.

Parquet files are written with pyarrow and read back with it: the column
replaced, every other column, the schema with its metadata and the row groups
as they were.
"""
import gzip
import json
import os
import pathlib

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from veltrane._corpus_load import load_corpus
from veltrane._corpus_sources import DocumentNames, InputError, Kind, Source
from veltrane._corpus_write import write_deduplicated
from veltrane._walk import list_files
from veltrane.cli.inputs import expand


def documents(corpus):
    return [bytes(corpus.data[a:b]) for a, b in zip(corpus.offsets, corpus.offsets[1:])]


def test_parquet_rows_are_documents_and_the_file_is_rewritten_column_for_column(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    texts = ["alpha", "", "żółw " * 3, "beta", "x" * 100, "gamma"]
    blobs = [bytes([i, 0, 255]) * i for i in range(len(texts))]
    schema = pa.schema([("id", pa.int64()), ("text", pa.large_string()), ("blob", pa.binary())],
                       metadata={b"origin": b"test"})
    table = pa.table({"id": list(range(len(texts))), "text": texts, "blob": blobs}, schema=schema)
    path = tmp_path / "t.parquet"
    pq.write_table(table, path, row_group_size=4, compression={"id": "zstd", "text": "snappy", "blob": "gzip"})

    corpus = load_corpus([str(path)], field="text")
    assert list(corpus.names) == [f"{path}:{n}" for n in range(1, 7)]
    assert documents(corpus) == [t.encode() for t in texts]
    assert documents(load_corpus([str(path)], field="blob")) == blobs

    kept = [t[: len(t) // 2] if i % 2 else t for i, t in enumerate(texts)]
    summary = write_deduplicated(corpus, str(tmp_path / "out"), lambda i: kept[i].encode())
    assert (summary.documents, summary.changed) == (6, sum(a != b for a, b in zip(texts, kept)))
    written = pq.ParquetFile(tmp_path / "out" / str(path).lstrip("/"))
    assert written.schema_arrow.equals(schema, check_metadata=True)
    assert written.metadata.num_row_groups == 2
    codecs = {written.metadata.row_group(0).column(j).path_in_schema: written.metadata.row_group(0).column(j).compression
              for j in range(3)}
    assert codecs == {"id": "ZSTD", "text": "SNAPPY", "blob": "GZIP"}
    back = written.read()
    assert back.column("text").to_pylist() == kept
    assert back.drop_columns(["text"]).equals(table.drop_columns(["text"]))

    same = tmp_path / "same"
    write_deduplicated(corpus, str(same), corpus.document)
    assert pq.read_table(same / str(path).lstrip("/")).equals(table)


def test_parquet_columns_that_hold_no_documents_are_refused(tmp_path):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    pq.write_table(pa.table({"text": ["a", None, "c"], "n": [1, 2, 3]}), tmp_path / "t.parquet")
    for field, name, reason in (("text", "t.parquet:2", "column 'text' is null"),
                                ("n", "t.parquet", "column 'n' holds int64, not strings or bytes"),
                                ("body", "t.parquet", "no column 'body' (its columns: text, n)")):
        with pytest.raises(InputError) as raised:
            load_corpus([str(tmp_path / "t.parquet")], field=field)
        assert (raised.value.name, raised.value.reason) == (f"{tmp_path}/{name}", reason)
    (tmp_path / "broken.parquet").write_bytes(b"PAR1 not really")
    with pytest.raises(InputError, match="broken.parquet: "):
        load_corpus([str(tmp_path / "broken.parquet")], field="text")


def test_parquet_without_pyarrow_names_the_extra(tmp_path, monkeypatch):
    import sys

    from veltrane._locations import MissingExtra

    monkeypatch.setitem(sys.modules, "pyarrow", None)  # import fails as if it were not installed
    (tmp_path / "t.parquet").write_bytes(b"")
    with pytest.raises(MissingExtra, match=r"pip install 'veltrane\[parquet\]'"):
        load_corpus([str(tmp_path / "t.parquet")], field="text")


fsspec = pytest.importorskip("fsspec")
memory = fsspec.filesystem("memory")


@pytest.fixture
def memory_root(request):
    root = f"/corpus-{request.node.name.replace('[', '-').replace(']', '')}"
    yield root
    if memory.exists(root):
        memory.rm(root, recursive=True)


def test_urls_are_read_and_written_like_paths(memory_root, tmp_path):
    memory.pipe(f"{memory_root}/in/b/2.txt", b"two")
    memory.pipe(f"{memory_root}/in/a.txt", b"one")
    records = b'{"text": "r\xc3\xa9cord", "k": 1}\n{"text": "plain"}\n'
    memory.pipe(f"{memory_root}/in/c.jsonl.gz", gzip.compress(records))
    url = f"memory://{memory_root}/in"
    corpus = load_corpus([url], field="text")
    assert [name.rsplit("/in/", 1)[1] for name in corpus.names] == ["a.txt", "b/2.txt", "c.jsonl.gz:1", "c.jsonl.gz:2"]
    assert documents(corpus) == [b"one", b"two", "récord".encode(), b"plain"]

    out = f"memory://{memory_root}/out"
    summary = write_deduplicated(corpus, out, lambda i: corpus.document(i).tobytes()[:3] if i == 2 else corpus.document(i))
    assert (summary.documents, summary.changed, summary.bytes_removed) == (4, 1, len("récord".encode()) - 3)
    mirrored = f"{memory_root}/out{memory_root}/in"
    assert memory.cat(f"{mirrored}/a.txt") == b"one" and memory.cat(f"{mirrored}/b/2.txt") == b"two"
    lines = gzip.decompress(memory.cat(f"{mirrored}/c.jsonl.gz")).splitlines(keepends=True)
    assert json.loads(lines[0]) == {"text": "ré", "k": 1}
    assert lines[1] == b'{"text": "plain"}\n'

    # A local output takes the same places; an output inside the input prefix is refused.
    write_deduplicated(corpus, str(tmp_path), corpus.document)
    assert (tmp_path / memory_root.lstrip("/") / "in" / "b" / "2.txt").read_bytes() == b"two"
    with pytest.raises(ValueError, match="inside the input"):
        write_deduplicated(corpus, f"{url}/dedup", corpus.document)


def test_unreadable_urls_are_reported(memory_root):
    reported = []
    memory.pipe(f"{memory_root}/ok", b"ok")
    corpus = load_corpus([f"memory://{memory_root}/missing", f"memory://{memory_root}/ok"],
                         report=lambda name, reason: reported.append((name, reason)))
    assert documents(corpus) == [b"ok"]
    assert reported == [(f"memory://{memory_root}/missing", "No such file or directory")]


# The listing is scan's: the same files in the same order, the same failures, on trees with links and loops.
@settings(max_examples=40, deadline=None)
@given(st.lists(st.tuples(st.sampled_from(["a", "b/c", "b/d/e", "f/g", "B"]),
                          st.sampled_from(["file", "link-up", "dangling", "dir"])), max_size=8))
def test_the_listing_is_scans(entries):
    import tempfile

    with tempfile.TemporaryDirectory() as work:
        root = pathlib.Path(work)
        for place, what in entries:
            path = root / "t" / place
            if path.exists() or path.is_symlink() or any(p.is_file() for p in path.parents):
                continue
            path.parent.mkdir(parents=True, exist_ok=True)
            if what == "file":
                path.write_bytes(place.encode())
            elif what == "dir":
                path.mkdir()
            else:
                path.symlink_to(root / "t" if what == "link-up" else root / "nowhere")
        arguments = [str(root / "t"), str(root / "absent"), str(root / "t" / "a")]
        ours, theirs = [], []
        listing = list_files(arguments, lambda *failure: ours.append(failure))
        scanned = expand(arguments, lambda *failure: theirs.append(failure))
        assert (listing.paths, listing.sizes, listing.total_bytes, ours) == (
            scanned.paths, scanned.sizes, scanned.total_bytes, theirs)


@given(st.lists(st.tuples(st.sampled_from(list(Kind)), st.integers(0, 3)), max_size=6), st.data())
def test_names_are_those_of_a_plain_list(sources, data):
    made, expected, first = [], [], 0
    for i, (kind, count) in enumerate(sources):
        count = 1 if kind in (Kind.FILE, Kind.DATA) else count
        made.append(Source(f"in{i}", kind, first, count))
        expected += [f"in{i}:{n}" for n in range(1, count + 1)] if kind in (Kind.JSONL, Kind.PARQUET) else [f"in{i}"]
        first += count
    names = DocumentNames(made)
    assert len(names) == len(expected) and list(names) == expected
    if expected:
        index = data.draw(st.integers(-len(expected), len(expected) - 1))
        assert names[index] == expected[index]
    assert names[1:5:2] == expected[1:5:2]
    with pytest.raises(IndexError):
        names[len(expected)]
