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


@pytest.mark.parametrize("how", ["SIGTERM", "SIGKILL", "SIGINT"])
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
