"""Per-job supervisor: starts one program and kills its whole process tree when told to or orphaned.

Run as a script of its own (`python -I -S supervisor.py CWD STDOUT STDERR PROGRAM ARGS...`), so it
starts in a few milliseconds with the standard library only; the worker's process module (the
tree kill) is loaded by path when a kill is needed. It answers "pid N" on its output, then
"exit N" when the program ends. A line "kill" on its input, the end of its input (the worker
process died, whatever killed it) or SIGTERM kills the program and everything below it.
"""

import os
import signal
import sys
import threading


def _process_module():
    import importlib.util

    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "process.py")
    spec = importlib.util.spec_from_file_location("_norvale_process", path)
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module
    spec.loader.exec_module(module)
    return module


class _Child:
    """What the tree kill needs of a process: its pid and a wait()."""

    def __init__(self, pid):
        self.pid = pid

    def wait(self):
        try:
            os.waitpid(self.pid, 0)
        except ChildProcessError:
            pass  # the main thread reaped it


def _spawn(cwd, stdout, stderr, argv):
    out = os.open(stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    err = os.open(stderr, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    pid = os.fork()
    if pid == 0:  # this process has one thread here, so forking is safe
        try:
            os.setsid()
            os.chdir(cwd)
            null = os.open(os.devnull, os.O_RDONLY)
            os.dup2(null, 0)
            os.dup2(out, 1)
            os.dup2(err, 2)
            os.closerange(3, 256)
            os.execvp(argv[0], argv)
        except BaseException:
            os.write(2, f"cannot start {argv[0]!r}\n".encode())
        os._exit(127)
    os.close(out)
    os.close(err)
    return pid


def main() -> int:
    cwd, stdout, stderr, *argv = sys.argv[1:]
    pid = _spawn(cwd, stdout, stderr, argv)
    child = _Child(pid)
    lock = threading.Lock()
    state = {"killed": False, "ended": False}

    def say(line):
        try:
            sys.stdout.write(line + "\n")
            sys.stdout.flush()
        except (OSError, ValueError):
            pass

    def kill(*_):
        with lock:
            if not state["killed"] and not state["ended"]:
                state["killed"] = True
                _process_module().kill_tree(child)
                say("killed")
        os._exit(0)

    signal.signal(signal.SIGTERM, kill)
    say(f"pid {pid}")

    def watch_input():
        for line in sys.stdin:
            if line.strip() == "kill":
                break
        kill()  # told to, or the worker is gone

    threading.Thread(target=watch_input, daemon=True).start()
    while True:
        try:
            _, status = os.waitpid(pid, 0)
            break
        except ChildProcessError:  # reaped by a kill in progress
            threading.Event().wait(10)
    code = os.waitstatus_to_exitcode(status)
    with lock:
        if state["killed"]:
            os._exit(0)
        state["ended"] = True
        try:
            os.killpg(pid, signal.SIGKILL)  # what the program left running in its group
        except OSError:
            pass
        say(f"exit {code}")
    os._exit(0)  # at once: a thread still reads the input


if __name__ == "__main__":
    sys.exit(main())
