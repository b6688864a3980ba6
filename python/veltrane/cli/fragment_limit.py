"""The default --fragment-limit: the largest input the repeats search takes unasked, from the memory installed.

The limit is printed whenever it skips a search, so it must read the same in
two runs on one machine: it follows the memory installed, never the memory
free at the moment, and is rounded down to a power of two, which prints short
(256M) and leaves a margin of its own.
"""
from __future__ import annotations

import os

#: Peak memory of the repeats search per input element (suffix and LCP arrays, the walk),
#: with room to spare.
SEARCH_BYTES_PER_ELEMENT = 40
#: The searches running at once may take this share of the memory installed; the rest is the system's.
MEMORY_SHARE = 2  # one half
#: Never less than this, however little memory the machine reports.
SMALLEST_LIMIT = 16 << 20
#: Where Linux reports the memory installed (MemTotal); elsewhere the physical page count tells.
MEMINFO = "/proc/meminfo"


def installed_memory() -> int:
    """Bytes of memory installed, which unlike free memory stays put while the machine runs."""
    try:
        with open(MEMINFO) as info:
            for line in info:
                if line.startswith("MemTotal:"):
                    return int(line.split()[1]) * 1024  # in kB
    except (OSError, ValueError, IndexError):
        pass
    return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")


def default_fragment_limit(processes: int) -> int:
    """A power of two of bytes: the input each of `processes` searches may take in its share of installed memory."""
    share = installed_memory() // MEMORY_SHARE // (SEARCH_BYTES_PER_ELEMENT * max(1, processes))
    return max(SMALLEST_LIMIT, 1 << max(0, share.bit_length() - 1))
