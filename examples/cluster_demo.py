"""Runs the four analyses through a cluster on this machine: a private broker and result store,
a shared-folder file store and two worker daemons (stand-in programs for the outside programs).

`make demo-cluster`. Needs the Debian packages rabbitmq-server and redis-server.
"""

import importlib
import json
import logging
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from norvale import worker  # noqa: E402
from norvale.worker import standins  # noqa: E402
from norvale.worker.cluster.localservers import RabbitServer, RedisServer  # noqa: E402

EXAMPLES = ["moraine_example", "korro_example", "pylon_example", "tarsis_example"]


def start_daemon(name: str, config_path: str, broker: str, results: str, store: str) -> subprocess.Popen[bytes]:
    # the URLs (and their passwords) by the environment, as deployed: never on a command line
    env = dict(os.environ, NORVALE_BROKER_URL=broker, NORVALE_RESULTS_URL=results, NORVALE_STORE_URL=store)
    return subprocess.Popen([sys.executable, "-m", "norvale.worker", "--config", config_path, "--name", name],
                            env=env)


def main() -> int:
    logging.basicConfig(stream=sys.stdout, level=logging.INFO, format="  [%(name)s] %(message)s")
    print("starting a private RabbitMQ and Redis on loopback ports ...", flush=True)
    rabbit, redis_server = RabbitServer(), RedisServer()
    daemons: list[subprocess.Popen[bytes]] = []
    with tempfile.TemporaryDirectory(prefix="norvale-cluster-demo-") as tmp:
        try:
            store = pathlib.Path(tmp, "store")
            store.mkdir()
            config: dict[str, object] = {"programs": {k: standins.command(k) for k in ("korro", "moraine", "tarsis")},
                      "licences": {"moraine": 2, "korro": 1, "tarsis": 1, "python": 1, "pylon": 1}}
            config_path = os.path.join(tmp, "worker.json")
            with open(config_path, "w") as f:
                json.dump(config, f)
            for name in ("desk-1", "desk-2"):
                daemons.append(start_daemon(name, config_path, rabbit.url, redis_server.url, store.as_uri()))
            worker.connect(rabbit.url, results=redis_server.url, store=store.as_uri())
            for name in EXAMPLES:
                print(f"== {name} (through the cluster)", flush=True)
                started = time.monotonic()
                importlib.import_module(name).main()
                print(f"   ({time.monotonic() - started:.2f} s)", flush=True)
            left = os.listdir(store)
            print("file store left empty" if not left else f"file store still holds {left}")
            return 0 if not left else 1
        finally:
            for proc in daemons:
                proc.send_signal(signal.SIGTERM)
            for proc in daemons:
                proc.wait(timeout=60)
            redis_server.stop()
            rabbit.stop()


if __name__ == "__main__":
    sys.exit(main())
