# Declared types of the package's native engine (src/engine_binding/).
from collections.abc import Sequence
from typing import Any, TypeVar

from typing_extensions import Buffer

_Bytes = str | Buffer
_M = TypeVar("_M")

def measure(data: _Bytes, bits: bool, case_fold: bool, measures_type: type[_M], ent_type: type[Any], /) -> _M: ...
def state(data: _Bytes, start: int = ..., case_fold: bool = ...) -> bytes: ...
def merge_states(earlier: Buffer, later: Buffer, /) -> bytes: ...
def finish(state: Buffer, bits: bool, measures_type: type[_M], ent_type: type[Any], /) -> _M: ...
def profile(data: _Bytes, window: int, step: int, normalized: bool, /) -> tuple[int, bytes, bytes]: ...
def repeats(
    data: _Bytes,
    text: bool,
    top: int | None,
    min_count: int,
    min_length: int,
    max_length: int | None,
    rank: str,
    maximal: bool,
    exclude_periodic: bool,
    min_entropy: float | None,
    non_overlap: bool,
    max_starts: int | None,
    /,
) -> dict[str, Any]: ...
def longest_run(data: _Bytes, /) -> tuple[int, int, int]: ...
def corpus_dedup(data: Buffer, offsets: Buffer, min_length: int, keep: str, whole_lines: bool, /) -> dict[str, Any]: ...
# The steps of a deduplication on a cluster (_cluster_dedup_steps.py); records are native uint64 words.
def shard_anchored(min_length: int, /) -> bool: ...
def shard_text_from_pieces(data: Buffer, offsets: Buffer, pieces: Buffer, /) -> tuple[bytes, bytes]: ...
def shard_run_records(
    data: Buffer, offsets: Buffer, position: int, min_length: int, keep: str, near: Buffer | None, hash_base: int,
    partitions: int, /,
) -> tuple[bool, list[bytes], list[bytes], bytes]: ...
def shard_run_decisions(
    inputs: Sequence[tuple[int, Buffer]], second_keys: Sequence[tuple[int, Buffer]], keep: str, positions: Buffer, /,
) -> tuple[list[tuple[int, bytes]], list[tuple[int, bytes]], list[tuple[int, bytes]]]: ...
def shard_window_records(
    data: Buffer, offsets: Buffer, position: int, min_length: int, keep: str,
    representatives: Sequence[Buffer] | None, shared: Sequence[Buffer] | None, hash_base: int, partitions: int,
    duplicates: Buffer, /,
) -> tuple[bool, list[bytes], bytes]: ...
def shard_window_claims(inputs: Sequence[tuple[int, Buffer]], keep: str, positions: Buffer, /) -> list[tuple[int, bytes]]: ...
def shard_serve(
    data: Buffer, offsets: Buffer, position: int, min_length: int, claims: Sequence[Buffer], positions: Buffer, /,
) -> list[tuple[int, bytes]]: ...
def shard_finish(
    data: Buffer, offsets: Buffer, pieces: Buffer, position: int, duplicates: Buffer, runs: Sequence[Buffer],
    min_length: int, keep: str, whole_lines: bool, /,
) -> tuple[bool, int, bytes | None, bytes, bytes, bytes]: ...
def shard_removed_ranges(offsets: Buffer, pieces: Buffer, /) -> tuple[bytes, bytes, bytes]: ...
def corpus_repeats(
    data: Buffer,
    offsets: Buffer,
    top: int | None,
    min_count: int,
    min_length: int,
    max_length: int | None,
    rank: str,
    maximal: bool,
    exclude_periodic: bool,
    min_entropy: float | None,
    non_overlap: bool,
    /,
) -> dict[str, Any]: ...
def sp800_90b(data: _Bytes, bits_per_symbol: int | None = ..., progress: Buffer | None = ...) -> dict[str, Any]: ...
def sp800_90b_iid(
    data: _Bytes,
    bits_per_symbol: int | None,
    seed: Buffer,
    conditioned: bool,
    progress: Buffer | None = ...,
    max_rounds: int = ...,
) -> dict[str, Any]: ...
def sp800_90b_restart(
    data: _Bytes,
    h_initial: float,
    bits_per_symbol: int | None,
    iid: bool,
    seed: Buffer | None,
    progress: Buffer | None = ...,
) -> dict[str, Any]: ...
def sp800_22_tests() -> tuple[tuple[str, str], ...]: ...
def sp800_22_plan(length: int, tests: int, every: bool, parameters: dict[str, int], compatible: bool, /) -> dict[str, Any]: ...
def sp800_22_bits(data: _Bytes, ascii: bool, /) -> int: ...
def sp800_22_run(
    data: _Bytes,
    ascii: bool,
    position: int,
    count: int,
    length: int,
    tests: int,
    every: bool,
    parameters: dict[str, int],
    compatible: bool,
    progress: Buffer | None = ...,
) -> tuple[tuple[dict[str, Any], ...], int]: ...
def sp800_22_summary(p_values: Buffer, compatible: bool, /) -> dict[str, Any]: ...
# The gzip checkpoint index (_gzip_index.py): one pass that finds the checkpoints, and a
# reader that inflates from one; corrupt data is a ValueError.
class GzipSurvey:
    def __init__(self, spacing: int) -> None: ...
    def feed(self, data: Buffer, /) -> bool: ...
    def finish(self) -> tuple[int, list[tuple[int, int, int, int, bytes]]] | str: ...

class GzipReader:
    def __init__(self, position: int, bits: int, value: int, window: Buffer) -> None: ...
    def decompress_into(self, data: Buffer, output: Buffer, /) -> int: ...
    def finish(self) -> None: ...
    @property
    def needs_input(self) -> bool: ...
    @property
    def eof(self) -> bool: ...
