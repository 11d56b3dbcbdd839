"""The restart drill, run by hand against real servers (`.venv/bin/python tools/restart-drill.py`).

Starts a private RabbitMQ and Redis on loopback and two worker daemons of 4 licences each; runs 8
jobs of 4 s while the broker restarts, then 8 more while the result store restarts, then 8 short
ones. Each program marks its own run, so the drill prints how many times each job ran (1 is
right), how each ended, what the broker says of the queue afterwards, and each daemon's count of
started and ended jobs. Run it a few times: outages that overlap a reconnection are timing-bound.
"""

import json
import os
import subprocess
import sys
import tempfile
import threading
import time

import kombu

from norvale import worker
from norvale.core import File
from norvale.external.python import PythonAnalysis
from norvale.worker.cluster.localservers import RabbitServer, RedisServer

PREFIX = "drill"


def jobs(runs: str, tag: str, n: int, seconds: float) -> list:
    return [PythonAnalysis(script=File.from_data(
        f"import os, time\nopen(os.path.join({runs!r}, '{tag}-{i}-' + str(os.getpid())), 'w').close()\n"
        f"time.sleep({seconds})\nopen('out.txt', 'w').write('{tag}-{i}')\n".encode()), output_filenames=["out.txt"])
        for i in range(n)]


def main() -> int:
    rabbit, redis_server = RabbitServer(), RedisServer()
    tmp = tempfile.mkdtemp(prefix="norvale-drill-")
    store = "file://" + os.path.join(tmp, "store")
    os.makedirs(store[len("file://"):])
    runs = os.path.join(tmp, "runs")
    os.makedirs(runs)
    config = os.path.join(tmp, "worker.json")
    with open(config, "w") as f:
        json.dump({"licences": {"python": 4}, "work_root": tmp}, f)
    env = dict(os.environ, NORVALE_BROKER_URL=rabbit.url, NORVALE_RESULTS_URL=redis_server.url, NORVALE_STORE_URL=store)
    logs = [os.path.join(tmp, f"daemon-{k}.log") for k in (1, 2)]
    daemons = [subprocess.Popen([sys.executable, "-m", "norvale.worker", "--config", config, "--name", f"drill-{k}",
                                 "--prefix", PREFIX], stderr=open(logs[k - 1], "w"), env=env) for k in (1, 2)]
    bad = 0
    try:
        time.sleep(5)
        worker.set_worker(worker.connect(rabbit.url, results=redis_server.url, store=store, prefix=PREFIX))
        for what, restart in (("broker", lambda: rabbit.restart(down_for=3.0)),
                              ("result store", lambda: redis_server.restart(down_for=3.0))):
            tag = what.replace(" ", "_")
            out: dict = {}
            batch = jobs(runs, tag, 8, 4)
            t = threading.Thread(target=lambda: out.setdefault("r", worker.run_all(batch, timeout=60, max_parallel=8)))
            t.start()
            time.sleep(2.0)
            restart()
            back = time.monotonic()
            t.join()
            marks = [name.rsplit("-", 1)[0] for name in os.listdir(runs) if name.startswith(tag)]
            counts = [marks.count(f"{tag}-{i}") for i in range(8)]
            with kombu.Connection(rabbit.url) as conn:
                ok = conn.default_channel.queue_declare(queue=f"{PREFIX}.python", passive=True)
            failed = [str(r) for r in out["r"] if r is not None]
            bad += bool(failed) or counts != [1] * 8
            print(f"{what} restart: runs per job {counts}, {8 - len(failed)} of 8 ended with their result "
                  f"({time.monotonic() - back:.1f} s after the server was back); queue: {ok.consumer_count} "
                  f"consumer(s), {ok.message_count} waiting" + (f"; first failure: {failed[0]}" if failed else ""))
        after = worker.run_all(jobs(runs, "after", 8, 0.2), timeout=60, max_parallel=8)
        bad += any(r is not None for r in after)
        print(f"then 8 short jobs: {sum(r is None for r in after)} of 8 ended with their result")
    finally:
        for d in daemons:
            d.terminate()
        for d in daemons:
            d.wait()
        rabbit.stop()
        redis_server.stop()
    for k, path in enumerate(logs, 1):
        with open(path) as f:
            text = f.read()
        print(f"daemon {k}: {text.count('started on')} job(s) started, {text.count('ended after')} ended (log {path})")
    print("drill:", "ok" if not bad else "FAILED")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
