"""One worker node: a Celery worker serving the queue of one integration with N concurrent runs.

Started by the daemon (`norvale-worker`), one node per configured integration. Jobs run in
threads of the node; each program runs under its own supervisor (see runner.py), so cancelling
works the same for every pool and a node that dies leaves no program running.
"""

from __future__ import annotations

import argparse
import json
import logging
import os
import shutil
import sys
import tempfile
import threading
import time
import warnings

from norvale.worker.adapters import adapter_for
from norvale.worker.cluster import deployment, routing, settings
from norvale.worker.cluster.runner import ClusterJobContext, HandBack, JobCancelled, last_line
from norvale.worker.cluster.store import FileStore, encode_content
from norvale.worker.config import WorkerConfig
from norvale.worker.jobfile import JobFileError, read_job
from norvale.worker.process import ProgramTimeout
from norvale.worker.result import WorkerFailure

log = logging.getLogger("norvale.worker")

PROGRESS_EVERY = 1.0


def timeout_message(integration: str, timeout: float) -> str:
    # the embedded worker's words for a time-out, so a job reads the same wherever it ran
    return f"The {integration} job did not finish within {timeout:g} seconds and was stopped"


def lost_message(integration: str, times: int) -> str:
    return (f"The {integration} job was lost {times} times: the worker running it stopped each time, "
            f"so it is not run again")


class Node:
    def __init__(self, *, app, redis, store: FileStore, config: WorkerConfig, integration: str,
                 name: str, prefix: str) -> None:
        self.app, self.redis, self.store, self.config = app, redis, store, config
        self.integration, self.name, self.prefix = integration, name, prefix
        self.stopping = threading.Event()
        self.active = 0
        self.lock = threading.Lock()

    def quit_when_idle(self, grace: float = 0.5) -> None:
        """Ends the process once no job runs (their programs killed, their messages handed back).

        Celery's own warm shutdown takes several seconds more to close its connections; whatever
        is not acknowledged by then the broker gives to another worker anyway."""
        def wait():
            while True:
                with self.lock:
                    if self.active == 0:
                        break
                time.sleep(0.05)
            time.sleep(grace)
            logging.shutdown()
            os._exit(0)

        threading.Thread(target=wait, daemon=True).start()

    # -- one job ------------------------------------------------------------------------------
    def run_job(self, job_id: str, integration: str, timeout: float, budget: float, max_attempts: int) -> dict:
        with self.lock:
            self.active += 1
        try:
            return self._run_job(job_id, integration, timeout, budget, max_attempts)
        finally:
            with self.lock:
                self.active -= 1

    def _run_job(self, job_id, integration, timeout, budget, max_attempts) -> dict:
        from celery.exceptions import Reject

        settings.check_job_id(job_id)
        keys = settings.Keys(self.prefix, job_id)
        r = self.redis
        if r.exists(keys.cancel):
            return self._finish(keys, job_id, {"status": "cancelled"}, log_it=False)
        attempt = r.incr(keys.attempts)
        r.expire(keys.attempts, settings.KEY_TTL)
        if attempt > max_attempts:
            result = {"status": "failure", "message": lost_message(integration, attempt - 1)}
            log.warning("job %s (%s) given up: lost %d times", job_id[:8], integration, attempt - 1)
            return self._finish(keys, job_id, result, log_it=False)
        started = time.monotonic()
        log.info("job %s (%s) started on %s, attempt %d", job_id[:8], integration, self.name, attempt)
        self._progress(keys, "started", 0.0, "", attempt)
        try:
            result = self._run(job_id, integration, timeout, budget, keys, started, attempt)
        except HandBack:
            r.decr(keys.attempts)  # a clean hand-back is no loss
            log.info("job %s (%s) handed back to the queue: the worker is stopping", job_id[:8], integration)
            r.delete(keys.progress)
            raise Reject("the worker is stopping", requeue=True)
        except Exception as exc:  # the client must hear of every end, or it would wait for its time-out
            log.exception("job %s (%s) failed in the worker", job_id[:8], integration)
            result = {"status": "failure", "message": f"The worker failed to run the job: {type(exc).__name__}: {exc}"}
        elapsed = time.monotonic() - started
        outcome = result["status"] if result["status"] != "failure" else "failed: " + result["message"].splitlines()[0]
        log.info("job %s (%s) ended after %.1f s: %s", job_id[:8], integration, elapsed, outcome)
        return self._finish(keys, job_id, result)

    def _run(self, job_id, integration, timeout, budget, keys, started, attempt) -> dict:
        root = self.config.work_root
        job_dir = tempfile.mkdtemp(prefix=deployment.job_dir_prefix("run"), dir=root)
        result_dir = tempfile.mkdtemp(prefix=deployment.job_dir_prefix("result"), dir=root)
        try:
            local_job = os.path.join(job_dir, "job.json")
            try:
                self.store.get(self.store.job_file(job_id), local_job)
            except FileNotFoundError:
                return {"status": "failure", "message": "Invalid job: the job file is not in the file store"}
            try:
                job = read_job(local_job, job_dir)
            except JobFileError as exc:
                return {"status": "failure", "message": f"Invalid job: {exc}"}
            finally:
                os.unlink(local_job)
            if job["integration"] != integration:
                return {"status": "failure", "message": "Invalid job: its integration does not match its queue"}
            last = [0.0]

            def watch(stdout_path, stderr_path):
                if self.stopping.is_set():
                    return "handback"
                if self.redis.exists(keys.cancel):
                    return "cancel"
                now = time.monotonic()
                if now - last[0] >= PROGRESS_EVERY:
                    last[0] = now
                    self._progress(keys, "running", now - started, last_line(stdout_path, stderr_path), attempt)
                return None

            try:
                adapter = adapter_for(job.get("kind", "program"), integration)
                context = ClusterJobContext(integration=integration, version=job.get("version"),
                                            content=job["content"], work_dir=job_dir, result_dir=result_dir,
                                            config=self.config, deadline=time.monotonic() + budget,
                                            timeout=timeout, cleanup=[job_dir, result_dir], watch=watch)
                content = adapter(context)
            except ProgramTimeout:
                return {"status": "failure", "message": timeout_message(integration, timeout)}
            except JobCancelled:
                return {"status": "cancelled"}
            except WorkerFailure as failure:
                return {"status": "failure", "message": failure.message}
            names = []

            def upload(path):
                ref = f"{len(names)}-{os.path.basename(path)}"
                self.store.put(path, self.store.result_path(job_id, ref))
                names.append(ref)
                return ref

            return {"status": "ok", "content": encode_content(content, upload)}
        finally:
            shutil.rmtree(job_dir, ignore_errors=True)
            shutil.rmtree(result_dir, ignore_errors=True)

    def _progress(self, keys, state, elapsed, line, attempt) -> None:
        report = {"state": state, "worker": self.name, "elapsed": round(elapsed, 1), "last_line": line,
                  "attempt": attempt}
        self.redis.set(keys.progress, json.dumps(report), ex=settings.KEY_TTL)

    def _finish(self, keys, job_id, result, log_it=True) -> dict:
        result = dict(result, worker=self.name)  # the client says which worker reported a failure
        pipe = self.redis.pipeline()
        pipe.delete(keys.progress)
        pipe.rpush(keys.done, json.dumps(result))
        pipe.expire(keys.done, settings.KEY_TTL)
        pipe.execute()
        return result


def load_worker_file(path: str) -> tuple[WorkerConfig, dict[str, int]]:
    """The worker configuration and the licence counts of a worker.json file."""
    data = deployment.worker_config_part(path, deployment.read_worker_file(path))
    licences = data.pop("licences", None)
    if not isinstance(licences, dict) or not licences:
        raise ValueError(f"worker configuration {path!r} must give \"licences\": {{\"<integration>\": <count>, ...}}")
    for name, count in licences.items():
        settings.check_integration(name)
        if isinstance(count, bool) or not isinstance(count, int) or count < 1:
            raise ValueError(f"the licence count of {name!r} must be a whole number of at least 1, not {count!r}")
    with tempfile.NamedTemporaryFile("w", suffix=".json", dir=os.path.dirname(os.path.abspath(path)),
                                     delete=False, encoding="utf-8") as tmp:
        json.dump(data, tmp)
    try:
        config = WorkerConfig.from_file(tmp.name)  # script paths relative to the original file
    finally:
        os.unlink(tmp.name)
    return config, dict(licences)


def _quiet_hand_back(record: logging.LogRecord) -> bool:
    """Celery logs a rejected (handed-back) job as a warning with a traceback; the node's own line
    says it already."""
    exc = record.exc_info[1] if record.exc_info else None
    return not (exc is not None and type(exc).__name__ == "Reject" and "the worker is stopping" in str(exc))


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="norvale-worker-node")
    # URLs on the command line only when the node is started by hand; the daemon writes them on stdin
    parser.add_argument("--broker")
    parser.add_argument("--results")
    parser.add_argument("--store")
    parser.add_argument("--store-options", default=None)
    parser.add_argument("--config", required=True)
    parser.add_argument("--integration", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--prefix", default=settings.DEFAULT_PREFIX)
    args = parser.parse_args(argv)
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format="%(asctime)s " + f"{args.integration}@{args.name}" + " %(message)s")
    log.setLevel(logging.INFO)  # Celery sets the root logger's level to its own
    warnings.filterwarnings("ignore", message=".*superuser privileges")
    for noisy in ("celery", "kombu", "amqp", "botocore", "s3fs", "aiobotocore"):
        logging.getLogger(noisy).setLevel(logging.WARNING)
    logging.getLogger("celery.app.trace").addFilter(_quiet_hand_back)
    import redis
    from celery import signals

    config, licences = load_worker_file(args.config)
    if args.broker and args.results and args.store:
        store_options = json.loads(args.store_options) if args.store_options else None
    else:
        urls = deployment.from_daemon()
        args.broker, args.results, args.store, store_options = urls.broker, urls.results, urls.store, urls.store_options
    app = settings.make_app(args.broker, args.results)
    node = Node(app=app, redis=redis.Redis.from_url(args.results), store=FileStore(args.store, store_options),
                config=config, integration=args.integration, name=args.name, prefix=args.prefix)

    @app.task(name=settings.TASK_NAME, bind=True)
    def run_job(self, job_id, integration, timeout, budget, max_attempts=settings.DEFAULT_MAX_ATTEMPTS):
        return node.run_job(job_id, integration, timeout, budget, max_attempts)

    @signals.worker_shutting_down.connect
    def _stopping(**_):
        node.stopping.set()
        node.quit_when_idle()

    queues = routing.node_queues(args.prefix, args.integration, config)
    queue = ", ".join(queues)
    worker = app.Worker(hostname=f"{args.integration}@{args.name}", queues=queues, pool="threads",
                        concurrency=licences[args.integration], without_gossip=True, without_mingle=True,
                        without_heartbeat=False, quiet=True, loglevel="WARNING", redirect_stdouts=False)
    from celery import signals as _signals

    @_signals.worker_ready.connect
    def _ready(**_):
        log.info("node ready: serving %s with %d concurrent run(s)", queue, licences[args.integration])

    worker.start()
    return worker.exitcode or 0


if __name__ == "__main__":
    sys.exit(main())
