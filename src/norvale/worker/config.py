"""Configuration of the embedded worker."""

from __future__ import annotations

import json
import os
import sys
from dataclasses import dataclass, field
from types import EllipsisType
from typing import Any, Mapping, Optional, TypedDict, Union

#: A program command: the program, then its arguments, as texts. A list or a tuple, so that one
#: text (which the configuration refuses) is a type error too.
Command = Union[list[str], tuple[str, ...]]
#: A script path.
ScriptPath = Union[str, "os.PathLike[str]"]

#: Integrations run by a program adapter of the embedded worker.
PROGRAM_INTEGRATIONS = ("korro", "moraine", "tarsis")
#: Integrations whose jobs are scripts (the command is the interpreter that runs them).
_script_integrations = {"pylon", "python"}


def register_script_integration(name: str) -> None:
    """Declares `name` (the `_integration` of a `PythonAnalysis` subclass of the application's own)
    so that the worker configuration accepts an interpreter for it."""
    if not isinstance(name, str) or not name:
        raise ValueError("a script integration name must be a non-empty text")
    _script_integrations.add(name)


def known_integrations() -> list[str]:
    """The integration names a worker configuration accepts, sorted."""
    return sorted({*PROGRAM_INTEGRATIONS, *_script_integrations})


@dataclass
class WorkerConfig:
    """How the embedded worker runs jobs.

    programs: the command of the outside program per integration ("tarsis", "korro", "moraine"),
        as a list of texts (program, then arguments); the adapter appends the job's input file
        name. For script integrations ("python", "pylon", ...) it is the interpreter that runs the
        script (default: this Python). One text is refused: write the list, or split a
        shell-style command line with `shlex.split`.
    scripts: scripts of the worker's own, by `script_key` (a path each).
    local_scripts_only: refuse scripts sent with a job; only `scripts` may run.
    work_root: where job directories are made (default: the system's temporary directory).
    run_as: a user name: programs and scripts run as that user, in a job directory it owns, with an
        environment of their own (the worker must run as root). None: as the worker's own user.

    Apply one with `norvale.worker.configure(config=...)` or `LocalWorker(config)`.
    """

    programs: dict[str, list[str]] = field(default_factory=dict)
    scripts: dict[str, str] = field(default_factory=dict)
    local_scripts_only: bool = False
    work_root: Optional[str] = None
    run_as: Optional[str] = None

    def __post_init__(self) -> None:
        programs, scripts = self.programs, self.scripts
        self.programs, self.scripts = {}, {}
        local_scripts_only, self.local_scripts_only = self.local_scripts_only, False
        work_root, self.work_root = self.work_root, None
        run_as, self.run_as = self.run_as, None
        self.update(programs=programs, scripts=scripts, local_scripts_only=local_scripts_only, work_root=work_root,
                    run_as=run_as)

    def update(self, *, programs: Optional[Mapping[str, Optional[Command]]] = None,
               scripts: Optional[Mapping[str, Optional[ScriptPath]]] = None,
               local_scripts_only: Optional[bool] = None,
               work_root: Union[str, os.PathLike[str], None, EllipsisType] = ...,
               run_as: Union[str, None, EllipsisType] = ...) -> None:
        """Changes the options given; a program or script given as None is removed."""
        if programs is not None:
            if not isinstance(programs, Mapping):
                raise TypeError(f"programs must be a dict of integration name to command, not {type(programs).__name__}")
            known = known_integrations()
            for name in programs:
                if name not in known:
                    raise ValueError(
                        f"unknown integration {name!r} in programs: the known integrations are {', '.join(known)} "
                        f"(a script integration of your own: norvale.worker.config.register_script_integration)"
                    )
            checked = {name: (None if command is None else _command(name, command)) for name, command in programs.items()}
            for name, command in checked.items():
                if command is None:
                    self.programs.pop(name, None)
                else:
                    self.programs[name] = command
        if scripts is not None:
            if not isinstance(scripts, Mapping):
                raise TypeError(f"scripts must be a dict of script key to path, not {type(scripts).__name__}")
            for key, path in scripts.items():
                if path is not None and not isinstance(path, (str, os.PathLike)):
                    raise TypeError(f"the script of {key!r} must be a path, not {type(path).__name__}")
            for key, path in scripts.items():
                if path is None:
                    self.scripts.pop(key, None)
                else:
                    self.scripts[key] = os.path.abspath(os.fspath(path))
        if local_scripts_only is not None:
            if not isinstance(local_scripts_only, bool):
                raise TypeError(f"local_scripts_only must be true or false, not {local_scripts_only!r}")
            self.local_scripts_only = local_scripts_only
        if work_root is not ...:
            if work_root is not None and not isinstance(work_root, (str, os.PathLike)):
                raise TypeError(f"work_root must be a directory path, not {type(work_root).__name__}")
            self.work_root = None if work_root is None else os.fspath(work_root)
        if run_as is not ...:
            if run_as is not None:
                import pwd

                if not isinstance(run_as, str) or not run_as:
                    raise TypeError(f"run_as must be a user name, not {run_as!r}")
                try:
                    pwd.getpwnam(run_as)
                except KeyError:
                    raise ValueError(f"run_as: there is no user {run_as!r} on this machine") from None
            self.run_as = run_as

    def program(self, integration: str) -> Optional[list[str]]:
        return self.programs.get(integration)

    def interpreter(self, integration: str) -> list[str]:
        return self.programs.get(integration) or [sys.executable]

    @classmethod
    def from_file(cls, path: Union[str, os.PathLike[str]]) -> "WorkerConfig":
        """Reads a JSON configuration file with the members "programs", "scripts", "local_scripts_only"
        and "work_root"; script paths are relative to the file. Apply the result with
        `norvale.worker.configure(config=...)` or `LocalWorker(config)`."""
        where = os.fspath(path)
        with open(path, encoding="utf-8") as f:
            try:
                data = json.load(f)
            except ValueError as exc:
                raise ValueError(f"worker configuration {where!r} is not valid JSON: {exc}") from None
        if not isinstance(data, dict):
            raise ValueError(f"worker configuration {where!r} must hold a JSON object")
        return cls.from_mapping(data, where)

    @classmethod
    def from_mapping(cls, data: Mapping[str, Any], where: str) -> "WorkerConfig":
        """A configuration from the JSON object of the file `where` (as `from_file` reads it); script
        paths are relative to that file, and errors name it."""
        unknown = set(data) - {"programs", "scripts", "local_scripts_only", "work_root", "run_as"}
        if unknown:
            raise ValueError(f"unknown worker configuration members: {', '.join(sorted(unknown))} (in {where!r})")
        flag = data.get("local_scripts_only")
        if flag is not None and not isinstance(flag, bool):
            raise ValueError(f"worker configuration {where!r}: local_scripts_only must be true or false, not {flag!r}")
        scripts = data.get("scripts") or {}
        if not isinstance(scripts, dict) or not all(isinstance(v, str) for v in scripts.values()):
            raise ValueError(f"worker configuration {where!r}: scripts must map script keys to paths")
        for name, command in (data.get("programs") or {}).items():
            if not isinstance(command, list):
                raise ValueError(
                    f"worker configuration {where!r}: the program command for {name!r} must be a list of texts "
                    f"(program, then arguments), not {json.dumps(command)}"
                )
        config = cls()
        base = os.path.dirname(os.path.abspath(where))
        config.update(programs=data.get("programs"), scripts={k: os.path.join(base, v) for k, v in scripts.items()},
                      local_scripts_only=flag, work_root=data.get("work_root"))
        if data.get("run_as") is not None:
            try:
                config.update(run_as=data["run_as"])
            except (TypeError, ValueError) as exc:
                raise ValueError(f"worker configuration {where!r}: {exc}") from None
        return config


class ConfigOptions(TypedDict, total=False):
    """The keyword options of `norvale.worker.configure` and `WorkerConfig.update`."""

    programs: Optional[Mapping[str, Optional[Command]]]
    scripts: Optional[Mapping[str, Optional[ScriptPath]]]
    local_scripts_only: Optional[bool]
    work_root: Union[str, os.PathLike[str], None]
    run_as: Optional[str]


def _command(name: str, command: Any) -> list[str]:
    if isinstance(command, (str, bytes, os.PathLike)):
        raise TypeError(
            f"the program command for {name!r} must be a list of texts (program, then arguments), not one text: "
            f"write [{os.fsdecode(command)!r}] for a program without arguments, or shlex.split(...) a command line"
        )
    try:
        parts = list(command)
    except TypeError:
        raise TypeError(f"the program command for {name!r} must be a list of texts, not {type(command).__name__}") from None
    parts = [os.fspath(part) if isinstance(part, os.PathLike) else part for part in parts]
    if not parts or not all(isinstance(part, str) and part for part in parts):
        raise ValueError(f"the program command for {name!r} must be a non-empty list of non-empty texts")
    return parts
