"""When the application ends mid-run (SIGTERM, SIGKILL, Ctrl+C), the program's whole tree ends too
and the job's temporary directories go."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

# The program: starts a child that ignores SIGTERM, writes both pids, then waits for ever.
PROGRAM = textwrap.dedent("""
    import os, subprocess, sys, time
    child = subprocess.Popen([sys.executable, "-c",
        "import signal, time; signal.signal(signal.SIGTERM, signal.SIG_IGN); time.sleep(600)"])
    with open(os.environ["PIDS"] + ".tmp", "w") as f:
        f.write(f"{os.getpid()} {child.pid}")
    os.rename(os.environ["PIDS"] + ".tmp", os.environ["PIDS"])
    time.sleep(600)
""")

APPLICATION = textwrap.dedent("""
    import io, sys
    from norvale import worker
    from norvale.external.moraine import MoraineAnalysis
    worker.configure(programs={"moraine": [sys.executable, "-c", sys.argv[1]]}, work_root=sys.argv[2])
    try:
        MoraineAnalysis(io.BytesIO(b"slope" * 1000)).execute(timeout=600)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
""")


def _alive(pid: int) -> bool:
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            state = f.read().rsplit(b")", 1)[1].split()[0]
    except OSError:
        return False
    return state != b"Z"


def _eventually(condition, seconds=20.0) -> bool:
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def _norvale_dirs(*roots) -> list:
    return sorted(name for root in roots for name in os.listdir(root) if name.startswith("norvale-"))


@pytest.mark.parametrize("how", ["SIGTERM", "SIGKILL", "SIGABRT", "SIGINT"])  # SIGABRT: a crash (abort())
def test_application_ending_mid_run_leaves_nothing_behind(tmp_path, how):
    work, tmp = tmp_path / "work", tmp_path / "tmp"
    work.mkdir()
    tmp.mkdir()
    pids_file = tmp_path / "pids"
    env = dict(os.environ, PIDS=str(pids_file), TMPDIR=str(tmp))
    app = subprocess.Popen([sys.executable, "-c", APPLICATION, PROGRAM, str(work)], env=env,
                           stdout=subprocess.PIPE, text=True)
    try:
        assert _eventually(pids_file.exists), "the program did not start"
        program, child = map(int, pids_file.read_text().split())
        assert _norvale_dirs(work, tmp), "the job's directories should exist while it runs"
        app.send_signal(getattr(signal, how))
        out, _ = app.communicate(timeout=30)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()
    if how == "SIGINT":
        assert (app.returncode, out) == (0, "interrupted\n")  # Ctrl+C reaches the application as before
    else:
        assert app.returncode == -getattr(signal, how)
    assert _eventually(lambda: not _alive(program) and not _alive(child)), "the program's tree survived"
    assert _eventually(lambda: not _norvale_dirs(work, tmp)), _norvale_dirs(work, tmp)


def _supervise(tmp_path, *args):
    """Runs the job supervisor on its own; its answers, and what the program wrote to stdout."""
    from norvale.worker import process

    out, err = tmp_path / "out.txt", tmp_path / "err.txt"
    supervisor = subprocess.Popen([process._SUPERVISOR, *args[:-1], str(out), str(err), str(tmp_path), "0", *args[-1]],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    answers = []
    with supervisor:  # stdin stays open until the last answer: its end would mean "the application is gone"
        for line in supervisor.stdout:
            answers.append(line.rstrip("\n"))
            if not line.startswith("started "):
                break
    return answers, out.read_text() if out.exists() else ""


def test_supervisor_reports_what_the_program_did(tmp_path):
    answers, _ = _supervise(tmp_path, [sys.executable, "-c", "import os, sys; sys.exit(7)"])
    assert answers[0].startswith("started ") and answers[1:] == ["exit 7"]
    answers, _ = _supervise(tmp_path, [sys.executable, "-c", "import os, signal; os.kill(os.getpid(), 9)"])
    assert answers[1:] == ["exit -9"]
    answers, _ = _supervise(tmp_path, [str(tmp_path / "no-such-program")])
    assert answers == ["error 2 No such file or directory"]


@pytest.mark.skipif(os.geteuid() != 0, reason="starting a program as another user needs root")
def test_supervisor_starts_the_program_as_the_user_asked_for(tmp_path):
    import pwd

    nobody = pwd.getpwnam("nobody")
    tmp_path.chmod(0o777)
    answers, out = _supervise(tmp_path, "-u", "nobody", ["/bin/sh", "-c", "id -u; id -g"])
    assert answers[1:] == ["exit 0"]
    assert out.split() == [str(nobody.pw_uid), str(nobody.pw_gid)]
    answers, _ = _supervise(tmp_path, "-u", "no-such-user-here", ["/bin/true"])
    assert len(answers) == 1 and answers[0].endswith(" no such user: no-such-user-here")
