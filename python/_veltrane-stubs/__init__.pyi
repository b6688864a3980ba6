# Declared types of the native module `_veltrane`.
#
# The three submodules are attributes of the root module, not importable by a
# dotted name (`import _veltrane.min_entropy` fails at run time), so they are
# declared here as module-typed attributes rather than as stub submodules.
from collections.abc import Sequence
from types import ModuleType
from typing import Final, Literal, TypedDict, type_check_only

from typing_extensions import Buffer, TypeAlias

# What every data-taking function accepts: a str (measured over its UTF-8 bytes,
# searched in code points), bytes, bytearray, any unsigned-byte buffer
# (memoryview, array('B'), numpy uint8, memoryview of an mmap) or a sequence of
# integers 0..255.
_Data: TypeAlias = str | Buffer | Sequence[int]

@type_check_only
class _Interval(TypedDict):
    start: int
    end: int

@type_check_only
class _Fragment(TypedDict):
    id: int
    occurrences: list[_Interval]

@type_check_only
class _ShannonEntropyModule(ModuleType):
    def measure_entropy(self, data: _Data) -> float: ...
    def measure_metric_entropy(self, data: _Data) -> float: ...
    def measure_normalized_metric_entropy(self, data: _Data) -> float: ...

@type_check_only
class _MinEntropyModule(ModuleType):
    def measure_entropy(self, data: _Data) -> float: ...

@type_check_only
class _StringsFragModule(ModuleType):
    def find_non_overlapping_fragments(
        self, data: _Data, count: int, times: int, global_non_overlap: bool
    ) -> list[_Fragment]: ...

shannon_entropy: Final[_ShannonEntropyModule]
min_entropy: Final[_MinEntropyModule]
strings_frag: Final[_StringsFragModule]

def ping(x: int) -> int: ...
def version() -> str: ...
def profile() -> Literal["debug", "release"]: ...
