import json
import os
import threading
import time

from norvale.core import File
from norvale.external.python import PythonAnalysis


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_for(predicate, limit=30.0, what="the condition"):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"gave up waiting for {what}")


def read_pid(path):
    try:
        return int(open(path).read())
    except (OSError, ValueError):
        return None


def sleeper_job(tmp_path, tag, slow_runs=1, seconds=120):
    """A job of the worker-configured sleeper script; returns (job, pid file)."""
    pid_path = str(tmp_path / f"{tag}.pid")
    args = {"pid_path": pid_path, "marker": str(tmp_path / f"{tag}.marker"), "slow_runs": slow_runs,
            "seconds": seconds}
    job = PythonAnalysis(script_key="sleeper", files=[("args.json", File.from_data(json.dumps(args).encode()))],
                         output_filenames=["out.txt"])
    return job, pid_path


def in_thread(fn, *args, **kwargs):
    """Runs fn in a thread; the returned dict gets "result" or "error" when it ends."""
    box = {}

    def target():
        try:
            box["result"] = fn(*args, **kwargs)
        except BaseException as exc:  # noqa: BLE001
            box["error"] = exc

    box["thread"] = threading.Thread(target=target, daemon=True)
    box["thread"].start()
    return box


def script_job(text, output="out.txt", files=()):
    return PythonAnalysis(script=File.from_data(text.encode()), files=list(files), output_filenames=[output])


class Relay:
    """A TCP relay on loopback to a local server, which a test can cut (every connection through it
    closed, new ones refused: the server as its clients see it when it is down) and restore on the
    same port."""

    def __init__(self, target_port: int) -> None:
        from norvale.worker.cluster.localservers import free_port

        self.target, self.port = target_port, free_port()
        self.lock = threading.Lock()
        self.sockets: set = set()
        self.listener = None
        self.restore()

    def restore(self) -> None:
        import socket

        self.listener = socket.create_server(("127.0.0.1", self.port))
        threading.Thread(target=self._accept, args=(self.listener,), daemon=True).start()

    def cut(self) -> None:
        import socket

        listener, self.listener = self.listener, None
        for s in [listener, *self._take_sockets()]:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def _take_sockets(self):
        with self.lock:
            taken, self.sockets = self.sockets, set()
        return taken

    def _accept(self, listener) -> None:
        import socket

        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return  # cut
            try:
                upstream = socket.create_connection(("127.0.0.1", self.target))
            except OSError:
                client.close()
                continue
            with self.lock:
                self.sockets.update((client, upstream))
            for a, b in ((client, upstream), (upstream, client)):
                threading.Thread(target=self._pipe, args=(a, b), daemon=True).start()

    @staticmethod
    def _pipe(a, b) -> None:
        import socket

        try:
            while data := a.recv(65536):
                b.sendall(data)
        except OSError:
            pass
        for s in (a, b):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
