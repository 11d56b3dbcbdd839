"""Stand-in programs: small programs that take the place of the real engineering programs.

They follow each adapter's program contract and write deterministic outputs derived from their
inputs, so that tests and demos can run the whole road on a machine without the real programs. The
Tarsis stand-in analyses the frame part of its model (`norvale.worker.standins.frame`); the others
compute nothing of engineering value.
"""

from __future__ import annotations

import sys

__all__ = ["command", "configure_all"]

_STANDINS = {
    "korro": "norvale.worker.standins.korro",
    "moraine": "norvale.worker.standins.moraine",
    "tarsis": "norvale.worker.standins.tarsis",
}


def command(integration: str) -> list[str]:
    """The command that runs the stand-in of `integration` with this Python."""
    try:
        return [sys.executable, "-m", _STANDINS[integration]]
    except KeyError:
        raise ValueError(f"there is no stand-in program for {integration!r}") from None


def configure_all() -> None:
    """Configures the embedded worker to use every stand-in program."""
    from norvale import worker

    worker.configure(programs={name: command(name) for name in _STANDINS})
