"""Running an outside program with a time-out, and stopping its whole process tree.

Every program runs under a per-job supervisor process (`norvale.worker.supervisor`), which kills
the program's process tree and removes the job's temporary directories when the application goes
away without doing so itself (SIGTERM, SIGKILL, a crash). A time-out or an interrupt (Ctrl+C) in
the application asks the supervisor to stop the tree and waits until it has.
"""

from __future__ import annotations

import errno
import json
import os
import selectors
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import IO, Any, Mapping, Optional, Sequence, cast, overload

from norvale.worker.protocol import OUTPUT_TAIL, WorkerFailure
from norvale.worker.supervisor import descendants, kill_tree  # noqa: F401  (re-exported)

_SUPERVISOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "supervisor.py")
_TAIL = 4000


@dataclass
class ProgramRun:
    returncode: int
    stdout_path: str
    stderr_path: str

    def stderr_tail(self, limit: int = _TAIL) -> str:
        return _tail(self.stderr_path, limit)

    def stdout_tail(self, limit: int = _TAIL) -> str:
        return _tail(self.stdout_path, limit)

    def output(self, limit: int = OUTPUT_TAIL) -> str:
        """The end of the program's output: stdout, then stderr, each under a heading when both have some."""
        out, err = self.stdout_tail(limit), self.stderr_tail(limit)
        if out and err:
            text = f"[stdout]\n{out}\n[stderr]\n{err}"
        else:
            text = out or err
        return text[-limit:]


class ProgramTimeout(Exception):
    """The program did not finish in time; it and its descendants were killed.

    `run` holds the killed program's log files (exit status: killed by SIGKILL).
    """

    def __init__(self, run: Optional[ProgramRun] = None) -> None:
        super().__init__()
        self.run = run


def _tail(path: str, limit: int = _TAIL) -> str:
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(0, size - limit))
            return f.read().decode("utf-8", "replace").strip()
    except OSError:
        return ""


class _Supervisor:
    """The application's end of one supervisor process."""

    def __init__(self, spec: dict[str, Any]) -> None:
        self.proc = subprocess.Popen([sys.executable, "-I", _SUPERVISOR], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, start_new_session=True, close_fds=True)
        # both pipes were asked for, so both exist
        self.stdin = cast(IO[bytes], self.proc.stdin)
        self.stdout = cast(IO[bytes], self.proc.stdout)
        self._buffer = b""
        self.stdin.write(json.dumps(spec).encode("utf-8") + b"\n")
        self.stdin.flush()

    @overload
    def read_line(self, timeout: None) -> str: ...
    @overload
    def read_line(self, timeout: Optional[float]) -> Optional[str]: ...

    def read_line(self, timeout: Optional[float]) -> Optional[str]:
        """The supervisor's next answer; None when `timeout` seconds passed without one."""
        deadline = None if timeout is None else time.monotonic() + timeout
        fd = self.stdout.fileno()
        with selectors.DefaultSelector() as selector:
            selector.register(fd, selectors.EVENT_READ)
            while b"\n" not in self._buffer:
                wait = None if deadline is None else max(0.0, deadline - time.monotonic())
                if not selector.select(wait):
                    return None
                chunk = os.read(fd, 4096)
                if not chunk:
                    self.proc.wait()
                    raise WorkerFailure(f"The job supervisor ended without an answer (exit status "
                                        f"{self.proc.returncode}): check that {sys.executable!r} runs")
                self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line.decode("utf-8", "replace")

    def stop(self) -> None:
        """Asks the supervisor to kill the program's tree and waits until it is done."""
        try:
            self.stdin.write(b"kill\n")
            self.stdin.flush()
        except OSError:
            pass
        self.close()

    def close(self) -> None:
        try:
            self.stdin.close()
        except OSError:
            pass
        self.proc.wait()
        self.stdout.close()


def _start_failure(argv: Sequence[str], code: int, text: str, cwd: str, integration: str) -> WorkerFailure:
    program = argv[0]
    setting = f"norvale.worker.configure(programs={{'{integration}': [<command>, ...]}})"
    if code == errno.ENOENT:
        if not os.path.isdir(cwd):
            return WorkerFailure(f"The job directory {cwd!r} does not exist: check the worker's work_root")
        return WorkerFailure(
            f"The program {program!r} configured for {integration!r} does not exist: configure the path of "
            f"an installed program with {setting}"
        )
    if code in (errno.EACCES, errno.EPERM, errno.ENOEXEC):
        return WorkerFailure(
            f"The program {program!r} configured for {integration!r} cannot be run ({text}): make it "
            f"executable (chmod +x), or put its interpreter first in the command, as in {setting}"
        )
    return WorkerFailure(f"The program {program!r} configured for {integration!r} could not be started: {text}")


def hand_to_user(run_as: str, cwd: str, env: Optional[Mapping[str, str]]) -> tuple[dict[str, int], dict[str, str]]:
    """Prepares a run as the user `run_as`: the job folder `cwd` (and what lies in it) becomes that
    user's, and the program gets an environment of its own (none of the worker's variables, which
    may hold its secrets). Returns the supervisor's "user" member and the environment."""
    import pwd

    user = pwd.getpwnam(run_as)
    for top, dirs, files in os.walk(cwd):
        for name in [top, *(os.path.join(top, n) for n in dirs + files)]:
            os.lchown(name, user.pw_uid, user.pw_gid)
    own = {"PATH": os.environ.get("PATH", os.defpath), "HOME": user.pw_dir, "USER": user.pw_name,
           "LOGNAME": user.pw_name, "LANG": os.environ.get("LANG", "C.UTF-8"), "TMPDIR": cwd}
    return {"uid": user.pw_uid, "gid": user.pw_gid}, dict(env) if env is not None else own


def start_supervised(argv: Sequence[str], *, cwd: str, log_dir: str, env: Optional[Mapping[str, str]] = None,
                     cleanup: Sequence[str] = (), integration: str = "program",
                     run_as: Optional[str] = None) -> tuple[_Supervisor, str, str]:
    """Starts `argv` in `cwd` under a per-job supervisor, output to files in `log_dir`.

    Returns the supervisor and the stdout and stderr paths once the program runs. A program that
    cannot be started raises `WorkerFailure` saying why; an interruption leaves nothing running.
    `run_as`: a user name the program runs as (see `hand_to_user`).
    """
    stdout_path = os.path.join(log_dir, "stdout.txt")
    stderr_path = os.path.join(log_dir, "stderr.txt")
    for path in (stdout_path, stderr_path):
        open(path, "wb").close()
    user = None
    if run_as is not None:
        user, env = hand_to_user(run_as, cwd, env)
    spec = {"argv": list(argv), "cwd": cwd, "stdout": stdout_path, "stderr": stderr_path,
            "env": dict(env) if env is not None else None, "cleanup": list(cleanup), "user": user}
    supervisor = _Supervisor(spec)
    try:
        answer = supervisor.read_line(None)
    except BaseException:
        supervisor.stop()
        raise
    if answer.startswith("error "):
        _, code, text = answer.split(" ", 2)
        supervisor.close()
        raise _start_failure(argv, int(code), text, cwd, integration)
    return supervisor, stdout_path, stderr_path


def run_program(argv: Sequence[str], *, cwd: str, log_dir: str, timeout: Optional[float],
                env: Optional[Mapping[str, str]] = None, cleanup: Sequence[str] = (), integration: str = "program",
                run_as: Optional[str] = None) -> ProgramRun:
    """Runs `argv` in `cwd`; output goes to files in `log_dir`. Raises ProgramTimeout after `timeout` s.

    `cleanup`: directories the supervisor removes if the application goes away while the program
    runs. A program that cannot be started raises `WorkerFailure` saying why.
    """
    supervisor, stdout_path, stderr_path = start_supervised(argv, cwd=cwd, log_dir=log_dir, env=env,
                                                            cleanup=cleanup, integration=integration, run_as=run_as)
    try:
        ended = supervisor.read_line(timeout)
        if ended is None:
            supervisor.stop()
            raise ProgramTimeout(ProgramRun(-signal.SIGKILL, stdout_path, stderr_path))
        answer = ended
        supervisor.close()
    except ProgramTimeout:
        raise
    except WorkerFailure:
        supervisor.close()
        raise
    except BaseException:
        supervisor.stop()  # interrupted (KeyboardInterrupt...): leave nothing running
        raise
    if not answer.startswith("exit "):
        raise WorkerFailure(f"The job supervisor gave an unexpected answer: {answer!r}")
    return ProgramRun(int(answer.split()[1]), stdout_path, stderr_path)


def remaining(deadline: float) -> float:
    """Seconds left until `deadline` (a `time.monotonic()` value), never below a small minimum."""
    return max(0.01, deadline - time.monotonic())
