"""What documents share and their deduplication, through the package: against brute-force models,
against the repeats search on the documents joined by characters of their own, and through the
command line (table, JSON, CPD XML read back by an XML parser, files and JSON Lines written back)."""
from __future__ import annotations

import array
import json
import xml.etree.ElementTree as ElementTree

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import veltrane
from veltrane import _engine
from corpus_model import deduplicated

# Characters of one to three bytes whose continuation bytes are shared under different leads (é ©, ₩ €),
# line breaks, and two letters: repeats begin and end inside characters and lines.
PIECES = ["a", "b", "\n", "é", "©", "₩", "€"]
documents = st.lists(st.lists(st.sampled_from(PIECES), max_size=14).map("".join), max_size=5)


@settings(max_examples=250, deadline=None)
@given(docs=documents, length=st.integers(1, 8), keep=st.sampled_from(["first", "none"]), lines=st.booleans())
def test_deduplication_matches_the_brute_force_model(docs, length, keep, lines):
    expected, passes = deduplicated([d.encode() for d in docs], length, keep, lines)
    spans = veltrane.duplicate_spans(docs, min_length=length, keep=keep, whole_lines=lines)
    assert spans.passes == passes
    assert veltrane.deduplicate(docs, min_length=length, keep=keep, whole_lines=lines) == \
        [e.decode() for e in expected]
    assert spans.removed_bytes == sum(map(len, (d.encode() for d in docs))) - sum(map(len, expected))
    # Spans ascend, lie inside their documents and never split a character.
    encoded = [d.encode() for d in docs]
    previous = (-1, -1)
    for document, start, end in spans:
        assert (document, start) > previous and start < end <= len(encoded[document])
        encoded[document][start:end].decode()
        previous = (document, end)


@settings(max_examples=60, deadline=None)
@given(docs=documents, length=st.integers(2, 8), keep=st.sampled_from(["first", "none"]))
def test_deduplicating_the_output_again_removes_nothing(docs, length, keep):
    once = veltrane.deduplicate(docs, min_length=length, keep=keep)
    again = veltrane.duplicate_spans(once, min_length=length, keep=keep)
    assert (len(again), again.passes) == (0, 1)


def test_planted_spans_at_document_edges_go_from_later_documents_only():
    shared = "the same forty-odd characters, planted twice: "
    docs = [shared + "first", "x" + shared, shared, "tiny", ""]
    kept = veltrane.deduplicate(docs, min_length=20)
    assert kept == [shared + "first", "x", "", "tiny", ""]
    none = veltrane.deduplicate(docs, min_length=20, keep="none")
    assert none == ["first", "x", "", "tiny", ""]
    # Bytes, str and paths are documents alike; a str comes back as a str, the rest as bytes.
    assert veltrane.deduplicate([shared.encode(), bytearray(shared.encode())], min_length=20) == [shared.encode(), b""]


def _joined(docs):
    # The documents one after another with a character of each one's own between them: a fragment
    # that occurs twice there is one that occurs twice without crossing from one document into the next.
    text, places = "", []
    for d, doc in enumerate(docs):
        places.extend((d, i) for i in range(len(doc) + 1))
        text += doc + chr(0xE000 + d)
    return text, places


@settings(max_examples=150, deadline=None)
@given(docs=st.lists(st.text("ab\ncd", max_size=16), min_size=1, max_size=5), min_length=st.integers(1, 4),
       min_count=st.integers(2, 3), raw=st.booleans(), overlap=st.booleans())
def test_shared_repeats_are_the_repeats_of_the_documents_kept_apart(docs, min_length, min_count, raw, overlap):
    options = dict(top=None, min_count=min_count, min_length=min_length, maximal=not raw, exclude_periodic=not raw,
                   non_overlap=not overlap)
    text, places = _joined(docs)
    expected = veltrane.repeats(text, text=True, **options)
    found = veltrane.shared_repeats(docs, **options)
    assert [(g.length, g.count, g.score) for g in found] == [(r.length, r.count, r.score) for r in expected]
    for group, repeat in zip(found, expected):
        assert [(o.document, o.start) for o in group.occurrences] == [places[s] for s in repeat.starts]
        assert group.documents == len({o.document for o in group.occurrences})
        for o in group.occurrences:
            doc = docs[o.document]
            assert o.end == o.start + group.length and o.name == str(o.document)
            assert (o.line, o.end_line) == (doc[:o.start].count("\n") + 1, doc[:o.end - 1].count("\n") + 1)
    rows = found.offsets[len(found)] if len(found) else 0
    assert len(found.documents) == len(found.starts) == len(found.ends) == rows


def test_binary_documents_have_no_lines_and_names_follow_paths(tmp_path):
    block = bytes(range(1, 120))
    (tmp_path / "a.bin").write_bytes(b"\0" + block)
    (tmp_path / "b.txt").write_bytes(b"line\n" + block)
    found = veltrane.shared_repeats([tmp_path / "a.bin", tmp_path / "b.txt"])
    [group] = list(found)
    assert [(o.name, o.line, o.start) for o in group.occurrences] == \
        [(str(tmp_path / "a.bin"), None, 1), (str(tmp_path / "b.txt"), 2, 5)]


def test_bad_arguments_are_refused_with_their_value():
    with pytest.raises(ValueError, match="keep must be 'first' or 'none', not 'last'"):
        veltrane.duplicate_spans(["a"], keep="last")
    with pytest.raises(ValueError, match="min_length must be at least 1, not 0"):
        veltrane.duplicate_spans(["a"], min_length=0)
    with pytest.raises(ValueError, match="min_count must be at least 2 across documents, not 1"):
        veltrane.shared_repeats(["aaaa"], min_count=1)
    with pytest.raises(TypeError, match="iterable of documents"):
        veltrane.duplicate_spans(b"one document")
    data = memoryview(b"abcdef")
    for offsets, message in (([1, 6], "start at 0"), ([0, 4, 2, 6], "not decrease"), ([0, 5], "end at the corpus size")):
        with pytest.raises(ValueError, match=message):
            _engine.corpus_dedup(data, array.array("Q", offsets), 2, "first", False)


TEXT = "def shared(x):\n    total = 0\n    for item in x:\n        total += item * item\n    return total\n"


@pytest.fixture
def tree(tmp_path):
    source = tmp_path / "src"
    (source / "pkg").mkdir(parents=True)
    (source / "a.py").write_text(TEXT + "print(1)\n")
    (source / "pkg" / "b.py").write_text("# b is longer\n\n" + TEXT)
    (source / "pkg" / "c.py").write_text("nothing shared here\n")
    return source


def test_cli_report_as_json_and_cpd_with_lines_from_the_files(tree, run_cli):
    done = run_cli("corpus", tree, "--min-length", "40", "--json")
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout)
    assert report["documents"] == [str(tree / "a.py"), str(tree / "pkg" / "b.py"), str(tree / "pkg" / "c.py")]
    [group] = report["groups"]
    assert (group["length"], group["count"], group["documents"]) == (len(TEXT), 2, 2)
    assert group["saved"] == len(TEXT)
    for occurrence in group["occurrences"]:
        content = open(occurrence["document"], encoding="utf-8").read()
        assert content[occurrence["start"]:occurrence["end"]] == TEXT
        assert occurrence["line"] == content[:occurrence["start"]].count("\n") + 1
        assert occurrence["end_line"] == content[:occurrence["end"] - 1].count("\n") + 1

    done = run_cli("corpus", tree, "--min-length", "40", "--format", "cpd", "--min-lines", "5")
    root = ElementTree.fromstring(done.stdout)
    [duplication] = root.findall("duplication")
    # def shared ( x ) : / total = 0 / for item in x : / total + = item * item / return total
    assert duplication.get("lines") == "5" and duplication.get("tokens") == "22"
    assert duplication.find("codefragment").text == TEXT
    for file in duplication.findall("file"):
        lines = open(file.get("path"), encoding="utf-8").read().split("\n")
        first, last = int(file.get("line")), int(file.get("endline"))
        assert lines[first - 1:last] == TEXT.split("\n")[:5]
        # From the first character to the last one included, the final line break.
        assert (file.get("column"), file.get("endcolumn")) == ("1", str(len("    return total\n")))
    # A threshold above the fragment's lines leaves an empty report.
    done = run_cli("corpus", tree, "--min-length", "40", "--format", "cpd", "--min-lines", "6")
    assert ElementTree.fromstring(done.stdout).findall("duplication") == []
    table = run_cli("corpus", tree, "--min-length", "40").stdout
    assert f"{tree / 'a.py'}:1-5" in table and f"{tree / 'pkg' / 'b.py'}:3-7" in table


def test_cpd_xml_stays_well_formed_with_characters_xml_cannot_hold(tmp_path, run_cli):
    # Control characters and the noncharacter U+FFFF are valid UTF-8 but have no place in XML 1.0.
    shared = "line one\x01\x1b[0m\uffff\n" * 12
    for name in ("x.txt", "y.txt"):
        (tmp_path / name).write_text("head " + name + "\n" + shared, encoding="utf-8")
    done = run_cli("corpus", tmp_path / "x.txt", tmp_path / "y.txt", "--format", "cpd", "--min-lines", "3")
    assert done.returncode == 0, done.stderr
    [duplication] = ElementTree.fromstring(done.stdout).findall("duplication")
    fragment = duplication.find("codefragment").text
    assert "line one\ufffd\ufffd[0m\ufffd\n" in fragment and "\x01" not in fragment


def test_cli_dedup_writes_a_fixed_point_mirroring_the_inputs(tree, tmp_path, run_cli):
    out = tmp_path / "out"
    done = run_cli("corpus", tree, "--min-length", "40", "--dedup", out)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("3 documents read, 1 changed, " + str(len(TEXT)) + " bytes removed")
    mirrored = out / str(tree).lstrip("/")
    assert (mirrored / "a.py").read_text() == (tree / "a.py").read_text()
    assert (mirrored / "pkg" / "b.py").read_text() == "# b is longer\n\n"
    assert (mirrored / "pkg" / "c.py").read_text() == "nothing shared here\n"
    again = run_cli("corpus", mirrored, "--min-length", "40", "--mark", tmp_path / "spans.jsonl")
    assert again.returncode == 0 and (tmp_path / "spans.jsonl").read_text() == ""
    marks = run_cli("corpus", tree, "--min-length", "40", "--mark", tmp_path / "spans.jsonl", "--keep", "none")
    assert marks.returncode == 0
    spans = [json.loads(line) for line in (tmp_path / "spans.jsonl").read_text().splitlines()]
    assert spans == [{"document": str(tree / "a.py"), "start": 0, "end": len(TEXT)},
                     {"document": str(tree / "pkg" / "b.py"), "start": 15, "end": 15 + len(TEXT)}]


def test_cli_dedup_of_json_lines_edits_the_field_only(tmp_path, run_cli):
    records = [{"id": 1, "text": "intro. " + TEXT, "meta": {"k": [1, 2.5]}}, {"id": 2, "text": TEXT + "outro"},
               {"id": 3, "other": "no text field needed when"}]
    source = tmp_path / "docs.jsonl"
    source.write_text("\n".join(json.dumps(r) for r in records[:2]) + "\n")
    done = run_cli("corpus", source, "--field", "text", "--min-length", "30", "--dedup", tmp_path / "out")
    assert done.returncode == 0, done.stderr
    written = (tmp_path / "out" / str(source).lstrip("/")).read_text().splitlines()
    assert [json.loads(line) for line in written] == [records[0], {"id": 2, "text": "outro"}]
    report = json.loads(run_cli("corpus", source, "--field", "text", "--min-length", "30", "--json").stdout)
    assert report["documents"] == [f"{source}:1", f"{source}:2"]


def test_cli_failures_name_the_input_and_the_rest_goes_on(tree, tmp_path, run_cli):
    done = run_cli("corpus", tree, tmp_path / "missing.txt", "--min-length", "40", "--json")
    assert done.returncode == 1
    assert done.stderr == f"veltrane: {tmp_path / 'missing.txt'}: No such file or directory\n"
    assert len(json.loads(done.stdout)["groups"]) == 1
    usage = run_cli("corpus", tree, "--keep", "none")
    assert usage.returncode == 2 and "--keep and --whole-lines need --dedup OUT" in usage.stderr
    usage = run_cli("corpus", tree, "--mark", tmp_path / "spans.jsonl", "--json")
    assert usage.returncode == 2 and "--dedup and --mark write no report" in usage.stderr
    assert not (tmp_path / "spans.jsonl").exists()
    inside = run_cli("corpus", tree, "--dedup", tree / "out")
    assert inside.returncode == 1 and inside.stderr.count("\n") == 1 and str(tree) in inside.stderr
