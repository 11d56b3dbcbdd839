"""What a node watches while a job's program runs: the cancel flag, its own stopping, progress."""

from __future__ import annotations

import os


class HandBack(Exception):
    """The worker is stopping; the job's program was killed and the job goes back to its queue."""


def last_line(*paths: str) -> str:
    """The last non-empty line of the first of `paths` that has one (reads at most 4 KB of each)."""
    for path in paths:
        try:
            with open(path, "rb") as f:
                f.seek(0, os.SEEK_END)
                f.seek(max(0, f.tell() - 4096))
                lines = [ln for ln in f.read().decode("utf-8", "replace").splitlines() if ln.strip()]
        except OSError:
            continue
        if lines:
            return lines[-1].strip()[:300]
    return ""
