"""Reading a corpus into one buffer and writing it back mirrored: files, JSON Lines (plain and gzip), data.

The loader is held to a plain model (a recursive listing with pathlib, the
records parsed with json.loads); the writer to the inputs themselves: with
nothing removed every file and record comes back byte for byte, and with
removals every other field still parses to what it was.
"""
import gzip
import json
import os
import pathlib
import tempfile

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from veltrane._corpus_load import load_corpus, load_documents
from veltrane._corpus_outputs import mirrored_path
from veltrane._corpus_sources import InputError
from veltrane._corpus_write import write_deduplicated

SNIFF = 8000  # scan's rule: a NUL byte among the first 8000 bytes makes an input binary


def model_files(root):
    """Every regular file under `root`, depth first, each directory's entries in name order."""
    found = []
    for entry in sorted(root.iterdir(), key=lambda p: p.name):
        found += model_files(entry) if entry.is_dir() else [entry]
    return found


def documents(corpus):
    return [bytes(corpus.data[a:b]) for a, b in zip(corpus.offsets, corpus.offsets[1:])]


def drop_middle(data):
    """What a removal leaves: the middle third taken out (nothing for short documents)."""
    third = len(data) // 3
    return data[:third] + data[2 * third:]


segments = st.sampled_from(["a", "b", "B", "c.d", "é", "z z"])
trees = st.dictionaries(st.lists(segments, min_size=1, max_size=3).map(tuple),
                        st.one_of(st.binary(max_size=40), st.just(b""), st.just(b"x" * 50 + b"\0")), max_size=8)


@settings(max_examples=60, deadline=None)
@given(trees)
def test_files_load_in_walk_order_and_come_back_byte_for_byte(tree):
    # A path that is also a directory of another cannot exist: keep the first.
    tree = {path: data for path, data in tree.items()
            if not any(other[:len(path)] == path and other != path for other in tree)}
    with tempfile.TemporaryDirectory() as work:
        root = pathlib.Path(work, "in")
        root.mkdir()
        for path, data in tree.items():
            root.joinpath(*path).parent.mkdir(parents=True, exist_ok=True)
            root.joinpath(*path).write_bytes(data)
        corpus = load_corpus([str(root)])
        expected = model_files(root)
        assert list(corpus.names) == [str(p) for p in expected]
        assert documents(corpus) == [p.read_bytes() for p in expected]
        assert list(corpus.binary) == [int(b"\0" in p.read_bytes()[:SNIFF]) for p in expected]

        out = pathlib.Path(work, "out")
        summary = write_deduplicated(corpus, str(out), corpus.document)
        assert (summary.documents, summary.changed, summary.bytes_removed) == (len(expected), 0, 0)
        mirrored = out / str(root).lstrip("/")
        assert model_files(out) == [mirrored / p.relative_to(root) for p in expected]
        assert all((mirrored / p.relative_to(root)).read_bytes() == p.read_bytes() for p in expected)

        edited = pathlib.Path(work, "edited")
        summary = write_deduplicated(corpus, str(edited), lambda i: drop_middle(corpus.document(i).tobytes()))
        cut = [len(p.read_bytes()) - len(drop_middle(p.read_bytes())) for p in expected]
        assert (summary.changed, summary.bytes_removed) == (sum(c > 0 for c in cut), sum(cut))
        for p in expected:
            assert (edited / str(root).lstrip("/") / p.relative_to(root)).read_bytes() == drop_middle(p.read_bytes())


def test_binary_is_decided_by_the_first_8000_bytes(tmp_path):
    for name, nul_at in (("early", 0), ("last", SNIFF - 1), ("late", SNIFF), ("none", None)):
        data = bytearray(b"t" * (SNIFF + 10))
        if nul_at is not None:
            data[nul_at] = 0
        (tmp_path / name).write_bytes(data)
    corpus = load_corpus([str(tmp_path)])
    assert dict(zip(corpus.names, corpus.binary)) == {
        str(tmp_path / "early"): 1, str(tmp_path / "last"): 1, str(tmp_path / "late"): 0, str(tmp_path / "none"): 0}


# JSON Lines: records with the text field anywhere among others, written in varied spellings.
json_values = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False, allow_infinity=False) | st.text(max_size=8),
    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=4), inner, max_size=3),
    max_leaves=6)
records = st.tuples(
    st.text(max_size=30),  # the field's text: any code points but lone surrogates
    st.dictionaries(st.text(max_size=5).filter(lambda k: k != "text"), json_values, max_size=4),
    st.integers(0, 4),  # where the field goes among the others
    st.sampled_from([(",", ":"), (", ", ": ")]),
    st.booleans(),  # ensure_ascii
    st.sampled_from(["\n", "\r\n", "\n\n", "\n \t\n"]),  # line ending, maybe blank lines after
)


def jsonl_lines(drawn):
    lines = []
    for text, others, at, separators, ascii_only, ending in drawn:
        items = list(others.items())
        items.insert(min(at, len(items)), ("text", text))
        lines.append(json.dumps(dict(items), separators=separators, ensure_ascii=ascii_only).encode() + ending.encode())
    return lines


def check_rewritten(original_lines, written, texts, kept_texts):
    """The written JSON Lines against the input: blank lines and unchanged records byte for byte, edits by parsing."""
    original = b"".join(original_lines).splitlines(keepends=True)
    rewritten = written.splitlines(keepends=True)
    assert len(rewritten) == len(original)
    record = 0
    for before, after in zip(original, rewritten):
        if not before.strip():
            assert after == before
            continue
        if kept_texts[record] == texts[record]:
            assert after == before
        else:
            expected = json.loads(before)
            expected["text"] = kept_texts[record]
            assert json.loads(after) == expected
            assert list(json.loads(after)) == list(expected)  # the fields' order too
            assert after.endswith(b"\r\n") == before.endswith(b"\r\n")
        record += 1


@settings(max_examples=80, deadline=None)
@given(st.lists(records, max_size=6), st.booleans())
def test_jsonl_records_are_documents_and_are_rewritten_in_place(drawn, compressed):
    lines = jsonl_lines(drawn)
    texts = [text for text, *_ in drawn]
    with tempfile.TemporaryDirectory() as work:
        name = os.path.join(work, "in", "records.jsonl" + (".gz" if compressed else ""))
        os.mkdir(os.path.dirname(name))
        with (gzip.open if compressed else open)(name, "wb") as handle:
            handle.write(b"".join(lines))
        corpus = load_corpus([name], field="text")
        assert list(corpus.names) == [f"{name}:{n}" for n in range(1, len(texts) + 1)]
        assert documents(corpus) == [t.encode() for t in texts]

        def read_back(out):
            with (gzip.open if compressed else open)(os.path.join(out, name.lstrip("/")), "rb") as handle:
                return handle.read()

        out = os.path.join(work, "same")
        write_deduplicated(corpus, out, corpus.document)
        assert read_back(out) == b"".join(lines)

        # Removals on character boundaries: every other record loses its middle third.
        kept_texts = [drop_middle(t) if i % 2 else t for i, t in enumerate(texts)]
        out = os.path.join(work, "edited")
        summary = write_deduplicated(corpus, out, lambda i: kept_texts[i].encode())
        check_rewritten(lines, read_back(out), texts, kept_texts)
        assert summary.documents == len(texts)
        assert summary.changed == sum(a != b for a, b in zip(texts, kept_texts))
        assert summary.bytes_removed == sum(len(a.encode()) - len(b.encode()) for a, b in zip(texts, kept_texts))


def test_jsonl_edits_keep_the_spelling_around_the_field(tmp_path):
    # The last of repeated keys is the one json.loads reads, so the one edited; an
    # ASCII-only file with escaped text stays ASCII-only.
    lines = ['{"text": "first", "n": 1.50, "text": "h\\u00e9llo w\\u00f6rld"}\n', '{"text":"keep"}']
    (tmp_path / "in.jsonl").write_text("".join(lines))
    corpus = load_corpus([str(tmp_path / "in.jsonl")], field="text")
    assert documents(corpus) == ["héllo wörld".encode(), b"keep"]
    # An edit that keeps the length is an edit all the same.
    write_deduplicated(corpus, str(tmp_path / "out"), lambda i: "héllo".encode() if i == 0 else b"kEEp")
    written = (tmp_path / "out" / str(tmp_path).lstrip("/") / "in.jsonl").read_bytes()
    assert written == b'{"text": "first", "n": 1.50, "text": "h\\u00e9llo"}\n{"text":"kEEp"}'


def test_without_a_field_every_file_is_raw_and_with_one_other_files_stay_whole(tmp_path):
    (tmp_path / "a.jsonl").write_bytes(b'{"text": "x"}\n{"text": "y"}\n')
    (tmp_path / "b.txt").write_bytes(b"plain")
    raw = load_corpus([tmp_path])  # a pathlib.Path is a path too
    assert documents(raw) == [b'{"text": "x"}\n{"text": "y"}\n', b"plain"]
    fielded = load_corpus([str(tmp_path)], field="text")
    assert list(fielded.names) == [f"{tmp_path}/a.jsonl:1", f"{tmp_path}/a.jsonl:2", f"{tmp_path}/b.txt"]
    assert documents(fielded) == [b"x", b"y", b"plain"]
    with pytest.raises(TypeError, match="not one str"):
        load_corpus(str(tmp_path))


def test_load_documents_takes_bytes_text_and_paths(tmp_path):
    import array

    (tmp_path / "f").write_bytes(b"from a file")
    wide = array.array("H", [0x4241, 0x4443])
    corpus = load_documents([b"ab", bytearray(b""), memoryview(b"xyz")[1:], "żółw", tmp_path / "f", wide])
    assert list(corpus.names) == ["0", "1", "2", "3", str(tmp_path / "f"), "5"]
    assert documents(corpus) == [b"ab", b"", b"yz", "żółw".encode(), b"from a file", wide.tobytes()]
    named = load_documents(["x", "y"], names=["docs/one", "two"])
    write_deduplicated(named, str(tmp_path / "out"), lambda i: named.document(i).tobytes()[:0])
    assert sorted(os.listdir(tmp_path / "out")) == ["docs", "two"]
    assert (tmp_path / "out" / "docs" / "one").read_bytes() == b""
    with pytest.raises(TypeError, match="document 1 is int"):
        load_documents([b"x", 7])
    with pytest.raises(ValueError, match="one name per document"):
        load_documents([b"x"], names=["a", "b"])
    with pytest.raises(InputError, match="No such file"):
        load_documents([tmp_path / "missing"])


def test_bad_records_name_the_record_and_the_field(tmp_path):
    cases = {
        '{"body": "x"}': "no field 'text'",
        '{"text": 12}': "field 'text' is a number, not a string",
        '{"text": null}': "field 'text' is null, not a string",
        '{"text": ["a"]}': "field 'text' is an array, not a string",
        '["text"]': "a JSON array, not an object with a field 'text'",
        '{"text": "unterminated}': "not valid JSON",
        '{"text": "\\ud800"}': "lone surrogate",
    }
    for i, (bad, reason) in enumerate(cases.items()):
        path = tmp_path / f"in{i}.jsonl"
        path.write_bytes(b'{"text": "fine"}\n\n' + bad.encode() + b"\n")
        with pytest.raises(InputError) as raised:
            load_corpus([str(path)], field="text")
        assert raised.value.name == f"{path}:2" and raised.value.input == str(path)
        assert reason in raised.value.reason and raised.value.reason.endswith("(line 3)")
        assert isinstance(raised.value, ValueError) and str(raised.value).startswith(f"{path}:2: ")
    (tmp_path / "latin1.jsonl").write_bytes(b'{"text": "caf\xe9"}\n')
    with pytest.raises(InputError, match=r"latin1.jsonl:1: not valid UTF-8"):
        load_corpus([str(tmp_path / "latin1.jsonl")], field="text")


def test_failing_inputs_are_reported_and_left_out_whole(tmp_path):
    (tmp_path / "1.txt").write_bytes(b"one")
    (tmp_path / "2.jsonl").write_bytes(b'{"text": "a"}\n{"text": 5}\n')
    (tmp_path / "3.jsonl.gz").write_bytes(b"not gzip at all")
    (tmp_path / "4.txt").symlink_to(tmp_path / "nowhere")
    (tmp_path / "5.jsonl").write_bytes(b'{"text": "b"}\n')
    reported = []
    corpus = load_corpus([str(tmp_path), str(tmp_path / "absent")], field="text",
                         report=lambda name, reason: reported.append((name, reason)))
    assert list(corpus.names) == [f"{tmp_path}/1.txt", f"{tmp_path}/5.jsonl:1"]
    assert documents(corpus) == [b"one", b"b"]
    assert [source.name for source in corpus.sources] == [f"{tmp_path}/1.txt", f"{tmp_path}/5.jsonl"]
    assert [name for name, _ in reported] == [
        f"{tmp_path}/4.txt", str(tmp_path / "absent"), f"{tmp_path}/2.jsonl:2", f"{tmp_path}/3.jsonl.gz"]
    assert reported[0][1] == reported[1][1] == "No such file or directory"
    assert reported[2][1] == f"field 'text' is a number, not a string; {tmp_path}/2.jsonl is left out"
    assert "gzip" in reported[3][1]
    assert [error.name for error in corpus.failed] == [name for name, _ in reported]


def test_the_output_never_goes_over_an_input(tmp_path):
    (tmp_path / "src" / "sub").mkdir(parents=True)
    (tmp_path / "src" / "sub" / "f").write_bytes(b"data")
    (tmp_path / "elsewhere").mkdir()
    (tmp_path / "elsewhere" / "g").write_bytes(b"other")
    corpus = load_corpus([str(tmp_path / "src"), str(tmp_path / "elsewhere" / "g")])
    for out in ("src", "src/sub/new", "elsewhere/g"):
        with pytest.raises(ValueError, match=out.replace("/", ".")):
            write_deduplicated(corpus, str(tmp_path / out), corpus.document)
    (tmp_path / "link").symlink_to(tmp_path / "src")
    with pytest.raises(ValueError, match="inside the input"):
        write_deduplicated(corpus, str(tmp_path / "link" / "out"), corpus.document)
    # An input inside the output, where another input's copy would land: refused before writing anything.
    target = tmp_path / "out" / str(tmp_path / "src" / "sub" / "f").lstrip("/")
    target.parent.mkdir(parents=True)
    os.link(tmp_path / "elsewhere" / "g", target)
    with pytest.raises(ValueError, match="would write over an input"):
        write_deduplicated(load_corpus([str(tmp_path / "src"), str(target)]), str(tmp_path / "out"), lambda i: b"")
    assert target.read_bytes() == b"other"
    assert (tmp_path / "src" / "sub" / "f").read_bytes() == b"data"


def test_outputs_that_cannot_be_written_are_reported(tmp_path):
    (tmp_path / "in.jsonl").write_bytes(b'{"text": "h\xc3\xa9llo"}\n')
    (tmp_path / "f").write_bytes(b"f")
    corpus = load_corpus([str(tmp_path / "in.jsonl"), str(tmp_path / "f"), str(tmp_path / "f")], field="text")
    reported = []
    summary = write_deduplicated(corpus, str(tmp_path / "out"), lambda i: b"h\xc3" if i == 0 else b"f",
                                 report=lambda name, reason: reported.append((name, reason)))
    assert [name for name, _ in reported] == [f"{tmp_path}/in.jsonl:1", f"{tmp_path}/f"]
    assert "not valid UTF-8" in reported[0][1] and "split a character" in reported[0][1]
    assert "written once only" in reported[1][1]
    assert summary.documents == 1
    written = sorted(p.name for p in (tmp_path / "out").rglob("*") if p.is_file())
    assert written == ["f"]  # the failed rewrite left nothing behind, not even a partial file

    (tmp_path / "in.jsonl").write_bytes(b'{"text": "changed"}\n')
    with pytest.raises(InputError, match="changed since it was read"):
        write_deduplicated(corpus, str(tmp_path / "again"), corpus.document)


@pytest.mark.parametrize("name, expected", [
    ("src/a.txt", "src/a.txt"),
    ("./src//a.txt", "src/a.txt"),
    ("/usr/share/doc/x", "usr/share/doc/x"),
    ("memory://bucket/key/x.jsonl", "bucket/key/x.jsonl"),
    ("file:///home/u/x", "home/u/x"),
    ("a/../../b", os.path.abspath("../b").lstrip("/")),
])
def test_inputs_are_placed_by_their_name_without_root_or_scheme(name, expected):
    assert mirrored_path(name) == expected
