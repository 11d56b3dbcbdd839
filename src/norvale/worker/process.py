"""Running an outside program with a time-out, and stopping its whole process tree.

Every program runs under a per-job supervisor process, `norvale-supervise` (a small C++ program
installed beside this module, native/supervise/supervise.cpp), which kills the program's process
tree and removes the job's temporary directories when the application goes away without doing so
itself (SIGTERM, SIGKILL, a crash). A time-out or an interrupt (Ctrl+C) in the application asks the
supervisor to stop the tree and waits until it has. The supervisor's command line and answers are
described at the top of its source.
"""

from __future__ import annotations

import errno
import math
import os
import select
import signal
import subprocess
import time
from dataclasses import dataclass
from typing import IO, Callable, Mapping, Optional, Sequence, cast, overload

from norvale.worker.protocol import OUTPUT_TAIL, WorkerFailure

_SUPERVISOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "norvale-supervise")
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

    def __init__(self, argv: Sequence[str], *, cwd: str, stdout: str, stderr: str,
                 env: Optional[Mapping[str, str]], cleanup: Sequence[str], user: Optional[str] = None) -> None:
        command = [_SUPERVISOR, *(["-u", user] if user is not None else []), stdout, stderr, cwd,
                   str(len(cleanup)), *cleanup, *argv]
        try:
            # the program gets the supervisor's environment
            self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                                         start_new_session=True, close_fds=True)
        except OSError as exc:
            raise WorkerFailure(f"The job supervisor {_SUPERVISOR!r} cannot be started ({exc.strerror or exc}): "
                                f"reinstall norvale") from None
        # both pipes were asked for, so both exist
        self.stdin = cast(IO[bytes], self.proc.stdin)
        self.stdout = cast(IO[bytes], self.proc.stdout)
        self._buffer = b""
        self._poll = select.poll()
        self._poll.register(self.stdout.fileno(), select.POLLIN)

    @overload
    def read_line(self, timeout: None) -> str: ...
    @overload
    def read_line(self, timeout: Optional[float]) -> Optional[str]: ...

    def read_line(self, timeout: Optional[float]) -> Optional[str]:
        """The supervisor's next answer; None when `timeout` seconds passed without one."""
        deadline = None if timeout is None else time.monotonic() + timeout
        fd = self.stdout.fileno()
        while b"\n" not in self._buffer:
            wait = None if deadline is None else max(0.0, deadline - time.monotonic())
            if not self._poll.poll(None if wait is None else math.ceil(wait * 1000)):
                return None
            chunk = os.read(fd, 4096)
            if not chunk:
                self.proc.wait()
                raise WorkerFailure(f"The job supervisor ended without an answer (exit status "
                                    f"{self.proc.returncode})")
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


def hand_to_user(user: str, cwd: str, env: Optional[Mapping[str, str]]) -> dict[str, str]:
    """Prepares a run as `user`: the job folder `cwd` (and what lies in it) becomes that user's, and
    the program gets an environment of its own (none of the worker's variables, which may hold its
    secrets) unless the caller gave one. Returns the environment."""
    import pwd

    entry = pwd.getpwnam(user)
    for top, dirs, files in os.walk(cwd):
        for name in [top, *(os.path.join(top, n) for n in dirs + files)]:
            os.lchown(name, entry.pw_uid, entry.pw_gid)
    own = {"PATH": os.environ.get("PATH", os.defpath), "HOME": entry.pw_dir, "USER": entry.pw_name,
           "LOGNAME": entry.pw_name, "LANG": os.environ.get("LANG", "C.UTF-8"), "TMPDIR": cwd}
    return dict(env) if env is not None else own


def start_supervised(argv: Sequence[str], *, cwd: str, log_dir: str, env: Optional[Mapping[str, str]] = None,
                     cleanup: Sequence[str] = (), integration: str = "program",
                     user: Optional[str] = None, log_prefix: str = "") -> tuple[_Supervisor, str, str]:
    """Starts `argv` in `cwd` under a per-job supervisor, output to the files "stdout.txt" and
    "stderr.txt" in `log_dir` (their names after `log_prefix`); as `user`
    (its groups, group and user id) when given, which needs the privilege to switch to it; the job
    folder then becomes that user's and the program gets an environment of its own (`hand_to_user`).

    Returns the supervisor and the stdout and stderr paths once the program runs. A program that
    cannot be started raises `WorkerFailure` saying why; an interruption leaves nothing running.
    """
    stdout_path = os.path.join(log_dir, log_prefix + "stdout.txt")  # made empty by the supervisor
    stderr_path = os.path.join(log_dir, log_prefix + "stderr.txt")
    if user is not None:
        env = hand_to_user(user, cwd, env)
    supervisor = _Supervisor(argv, cwd=cwd, stdout=stdout_path, stderr=stderr_path, env=env, cleanup=cleanup,
                             user=user)
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


#: How often a watched program's `watch` is called (seconds).
WATCH_EVERY = 0.1


def run_program(argv: Sequence[str], *, cwd: str, log_dir: str, timeout: Optional[float],
                env: Optional[Mapping[str, str]] = None, cleanup: Sequence[str] = (), integration: str = "program",
                watch: Optional[Callable[[str, str], None]] = None, user: Optional[str] = None,
                log_prefix: str = "") -> ProgramRun:
    """Runs `argv` in `cwd`; output goes to files in `log_dir` (see `start_supervised`, as for
    `log_prefix`). Raises ProgramTimeout after `timeout` s.

    `cleanup`: directories the supervisor removes if the application goes away while the program
    runs. `watch(stdout_path, stderr_path)`, when given, is called about ten times a second while
    the program runs; whatever it raises stops the program's tree and goes to the caller. A
    program that cannot be started raises `WorkerFailure` saying why. `user`: the user to run the
    program as (see `start_supervised`).
    """
    supervisor, stdout_path, stderr_path = start_supervised(argv, cwd=cwd, log_dir=log_dir, env=env,
                                                            cleanup=cleanup, integration=integration, user=user,
                                                            log_prefix=log_prefix)
    deadline = None if timeout is None else time.monotonic() + timeout
    try:
        while True:
            wait = None if deadline is None else max(0.0, deadline - time.monotonic())
            if watch is not None:
                wait = WATCH_EVERY if wait is None else min(wait, WATCH_EVERY)
            ended = supervisor.read_line(wait)
            if ended is not None:
                break
            if deadline is not None and time.monotonic() >= deadline:
                supervisor.stop()
                raise ProgramTimeout(ProgramRun(-signal.SIGKILL, stdout_path, stderr_path))
            if watch is not None:
                try:
                    watch(stdout_path, stderr_path)
                except BaseException:
                    supervisor.stop()
                    raise
        answer = ended
        supervisor.close()
    except ProgramTimeout:
        raise
    except WorkerFailure:
        supervisor.close()
        raise
    except BaseException:
        if supervisor.proc.returncode is None:
            supervisor.stop()  # interrupted (KeyboardInterrupt...): leave nothing running
        raise
    if not answer.startswith("exit "):
        raise WorkerFailure(f"The job supervisor gave an unexpected answer: {answer!r}")
    return ProgramRun(int(answer.split()[1]), stdout_path, stderr_path)


def remaining(deadline: float) -> float:
    """Seconds left until `deadline` (a `time.monotonic()` value), never below a small minimum."""
    return max(0.01, deadline - time.monotonic())
