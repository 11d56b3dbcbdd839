"""One worker node: a Celery worker serving the queue of one integration with N concurrent runs.

Started by the daemon (`norvale-worker`), one node per configured integration. Jobs run in
threads of the node through the embedded worker's own road (`execute_job`); each program runs
under its own supervisor, so a node that dies leaves no program running.

A run holds a lease on its job in the result store, renewed while its program runs; a delivery
of a job whose lease is held elsewhere is not started, and a run that loses its lease stops its
program and its result is dropped. So a job's program runs at most once at a time, whatever
the broker, the result store or the nodes do (docs/cluster.md).
"""

from __future__ import annotations

import argparse
import json
import logging
import os
import queue
import sys
import threading
import time
import warnings
from typing import Any, Callable, NoReturn, Optional, Sequence

from norvale.worker.cluster import deployment, routing, settings
from norvale.worker.cluster.names import process_gone, text
from norvale.worker.cluster.runner import HandBack, last_line
from norvale.worker.cluster.store import FileStore, encode_content
from norvale.worker.config import WorkerConfig
from norvale.worker.local import JobCancelled, execute_job, make_dir
from norvale.worker.protocol import JOB_DIR_PREFIX, WorkerFailure

log = logging.getLogger("norvale.worker")

PROGRESS_EVERY = 1.0
HEALTH_EVERY = 2.0    # the node looks at the result store and the file store this often
JANITOR_EVERY = 10.0  # and cleans up after jobs whose client is gone this often
PROBE_LIMIT = 3.0     # an object store that does not answer a look within this long counts as unreachable
QUIT_LIMIT = 5.0      # a stopping node ends at the latest this long after its programs were told to stop
RECONNECT_MAX = 5.0   # a node that lost its broker tries again 1, 2, 3, 4 s apart, then this often

# Renews the lease when this run holds it, or takes it back when the result store lost it (a
# restart); 0 when another run holds it now or the job has ended for its client.
_RENEW = """
if redis.call('EXISTS', KEYS[2]) == 1 then return 0 end
local v = redis.call('GET', KEYS[1])
if v == ARGV[1] then redis.call('PEXPIRE', KEYS[1], ARGV[2]) return 1 end
if not v then redis.call('SET', KEYS[1], ARGV[1], 'PX', ARGV[2]) return 2 end
return 0
"""
# The end notice of a run, only while it holds the lease (fenced): then the lease and the
# progress report go and the job is marked ended; 2 when the job had ended for its client already.
_FINISH = """
if redis.call('EXISTS', KEYS[4]) == 1 then redis.call('DEL', KEYS[1]) return 2 end
local v = redis.call('GET', KEYS[1])
if v and v ~= ARGV[1] then return 0 end
redis.call('DEL', KEYS[1], KEYS[3])
redis.call('RPUSH', KEYS[2], ARGV[2])
redis.call('EXPIRE', KEYS[2], ARGV[3])
redis.call('SET', KEYS[4], '1', 'EX', ARGV[4])
redis.call('ZADD', KEYS[5], ARGV[5], ARGV[6])
return 1
"""
# The result store's record of runs: "<since> new|lost", since when it is whole (server time,
# s). Missing, it is written: "lost" when this node had seen another one (the store lost its
# keys, a restart without persistence), "new" when it cannot tell (a store in its first use);
# a "new" one that differs from the one this node saw is a loss too. KEYS[1]: the record key,
# ARGV[1]: the record this node saw last ("" for none). Leaves `now` and `record` set.
_RECORD = """
local now = tonumber(redis.call('TIME')[1])
local record = redis.call('GET', KEYS[1])
if not record or (ARGV[1] ~= '' and record ~= ARGV[1] and string.sub(record, -4) == ' new') then
  record = now .. (ARGV[1] ~= '' and ' lost' or ' new')
  redis.call('SET', KEYS[1], record)
end
"""
_LOOK = _RECORD + "return record\n"
# Takes the lease of a delivered job in one step: 0 when the job has ended, 1 when it was
# cancelled before it started, {2, holder} when another run holds the lease, {4, seconds} when
# a delivery that may have started a run before finds no lease while the store's record is too
# young to tell (a run alive elsewhere takes its lease back within that time), else {3, lease,
# attempt}: the run is numbered (the fence), its attempt counted, and "started" reported unless
# the job has been lost too often. A lease freed by its run or its daemon says "free".
_TAKE = _RECORD.replace("KEYS[1]", "KEYS[7]").replace("ARGV[1]", "ARGV[6]") + """
if redis.call('EXISTS', KEYS[1]) == 1 then return {0} end
if redis.call('EXISTS', KEYS[2]) == 1 then return {1} end
local held = redis.call('GET', KEYS[4])
if held == 'free' then
  redis.call('DEL', KEYS[4])
elseif not held and ARGV[7] == '1' then
  local age = now - tonumber(string.match(record, '^%d+'))
  local window = tonumber(string.sub(record, -4) == 'lost' and ARGV[8] or ARGV[9])
  if age < window then return {4, window - age} end
end
local token = redis.call('INCR', KEYS[3])
redis.call('EXPIRE', KEYS[3], ARGV[3])
local value = token .. ARGV[1]
if not redis.call('SET', KEYS[4], value, 'NX', 'PX', ARGV[2]) then
  return {2, redis.call('GET', KEYS[4]) or ''}
end
local attempt = redis.call('INCR', KEYS[5])
redis.call('EXPIRE', KEYS[5], ARGV[3])
if attempt <= tonumber(ARGV[4]) then
  redis.call('SET', KEYS[6], ARGV[5] .. attempt .. '}', 'EX', ARGV[3])
end
return {3, value, attempt}
"""
# Frees a run's lease (its run handed the job back, or its node died): the next delivery takes
# it at once, even while the store's record is too young to tell whether a run is alive.
_FREE = """
if redis.call('GET', KEYS[1]) == ARGV[1] then
  redis.call('SET', KEYS[1], 'free', 'EX', ARGV[2])
  return 1
end
return 0
"""


def _unlink(path: str) -> None:
    try:
        os.unlink(path)
    except OSError:
        pass


def _work_root_problem(config: WorkerConfig) -> str:
    """What is wrong with the work root, in the embedded worker's words ("" when nothing is)."""
    try:
        os.rmdir(make_dir(config, JOB_DIR_PREFIX))
    except WorkerFailure as failure:
        return failure.message
    except OSError:
        pass
    return ""


def lost_message(integration: str, times: int) -> str:
    return (f"The {integration} job was lost {times} times: the worker running it stopped each time, "
            f"so it is not run again")


class LeaseLost(Exception):
    """The run no longer holds its job's lease; its program was stopped and its result is dropped.

    elsewhere: another run holds the lease now (else: it could not be renewed in time)."""

    def __init__(self, elsewhere: bool) -> None:
        super().__init__("held by another run" if elsewhere else "could not be renewed")
        self.elsewhere = elsewhere


class ClientGone(Exception):
    """Nobody waits for the job any more (its client was killed); its program was stopped."""


class StoreDown(Exception):
    """The file store failed while the job's file was fetched; the job goes back to its queue."""


class Lease:
    """A run's hold on its job: "<fence> <worker> <pid>", renewed by the run's watch."""

    def __init__(self, redis: Any, keys: settings.Keys, value: str) -> None:
        self.redis, self.keys, self.value = redis, keys, value
        self.token = int(value.split()[0])
        self.renewed = time.monotonic()
        self.attempt = 1

    def renew(self) -> None:
        """Renews the lease (LeaseLost when another run holds it; outage errors pass through)."""
        held = self.redis.eval(_RENEW, 2, self.keys.lease, self.keys.ended, self.value,
                               int(settings.LEASE_TTL * 1000))
        if not held:
            raise LeaseLost(elsewhere=True)
        if held == 2:
            log.warning("job %s: the result store had lost its lease (it lost its keys); this run took it back",
                        self.keys.job_id[:8])
        self.renewed = time.monotonic()

    def expired(self) -> bool:
        """Whether the lease may have lapsed: not renewed for nearly its lifetime."""
        return time.monotonic() - self.renewed >= settings.LEASE_TTL - settings.LEASE_MARGIN

    def release(self) -> None:
        try:
            self.redis.eval(_FREE, 1, self.keys.lease, self.value, settings.KEY_TTL)
        except settings.outage_errors():
            pass  # it expires


def release_leases(redis: Any, prefix: str, name: str, pid: int) -> int:
    """Frees the leases held by the runs of a node that died (its programs died with it), so its
    jobs run again at once rather than when the leases expire. Returns how many were freed."""
    freed = 0
    suffix = f" {name} {pid}"
    for key in redis.scan_iter(match=f"{prefix}:job:*:lease", count=500):
        value = redis.get(key)
        holder = text(value)
        if holder.endswith(suffix):
            freed += int(redis.eval(_FREE, 1, key, holder, settings.KEY_TTL) or 0)
    return freed


class Node:
    def __init__(self, *, app: Any, redis: Any, store: FileStore, config: WorkerConfig, integration: str,
                 name: str, prefix: str, results_url: str = "", store_url: str = "") -> None:
        self.app, self.redis, self.store, self.config = app, redis, store, config
        self.integration, self.name, self.prefix = integration, name, prefix
        self.hostname = f"{integration}@{name}"
        self.queues = [settings.queue_name(prefix, integration)]  # main() sets those its configuration serves
        self.urls = {"result store": results_url, "file store": store_url or store.url}
        self.stopping = threading.Event()
        self.active = 0
        self.lock = threading.Lock()
        self.outage = settings.outage_errors()
        # the scripts of every run, sent by their digest (Redis loads them again after a restart)
        self._take_script = redis.register_script(_TAKE)
        self._look_script = redis.register_script(_LOOK)
        self.record = ""                  # the result store's record of runs, as this node saw it last
        self._finish_script = redis.register_script(_FINISH)
        self.down: dict[str, str] = {}   # services this node cannot reach now, with the cause
        self.paused = False               # consumption stopped because of them
        self.checking = threading.Lock()
        self.job_files: Optional[str] = None  # see _job_files
        self._probes: list[threading.Thread] = []  # looks at an object store still waiting for an answer
        self.wake = threading.Event()     # a run met an outage: look at the services now
        # what runs leave on disk is removed by a thread of its own, once the run has reported its
        # end: its licence and its job's acknowledgement need not wait for it (should the node
        # end first, its daemon removes what is left by the node's process id)
        self.cleanups: queue.SimpleQueue[tuple[str, list[Callable[[], None]]]] = queue.SimpleQueue()
        threading.Thread(target=self._clean_up, daemon=True, name="norvale-cleanup").start()

    def _clean_up(self) -> None:
        while True:
            job_id, later = self.cleanups.get()
            for clean_up in later:
                try:
                    clean_up()
                except Exception as exc:  # noqa: BLE001  (a folder left behind is no reason to stop)
                    log.debug("clean-up after job %s failed: %s", job_id[:8], exc)

    # -- the node's life ----------------------------------------------------------------------
    def quit_when_idle(self, grace: float = 0.5) -> None:
        """Ends the process once no job runs (their programs killed, their messages handed back).

        Celery's own warm shutdown takes several seconds more to close its connections; whatever
        is not acknowledged by then the broker gives to another worker anyway."""
        def wait() -> None:
            limit = time.monotonic() + QUIT_LIMIT
            while time.monotonic() < limit:
                with self.lock:
                    if self.active == 0 and self.cleanups.empty():
                        break
                time.sleep(0.05)
            time.sleep(grace)
            logging.shutdown()
            os._exit(0)

        threading.Thread(target=wait, daemon=True).start()

    def watch_parent(self, fd: int) -> None:
        """Stops the node when its daemon is gone (the daemon holds the other end of pipe `fd`)."""
        def wait() -> None:
            try:
                while os.read(fd, 64):
                    pass
            except OSError:
                pass
            log.warning("the daemon of this node is gone: stopping its programs and ending")
            self.stopping.set()
            self.quit_when_idle(grace=0.1)

        threading.Thread(target=wait, daemon=True, name="norvale-parent").start()

    def watch_services(self) -> None:
        """Looks at the result store and the file store every few seconds; while either cannot be
        reached the node takes no new job (it says so in its log), and it cleans up after jobs
        whose client is gone."""
        def loop() -> None:
            last_janitor = 0.0
            while not self.stopping.is_set():
                self.wake.wait(HEALTH_EVERY)
                self.wake.clear()
                self.check_services()
                now = time.monotonic()
                if not self.down and now - last_janitor >= JANITOR_EVERY:
                    last_janitor = now
                    try:
                        self.clean_up_orphans()
                    except Exception as exc:  # noqa: BLE001  (the next round tries again)
                        log.debug("clean-up after ended jobs failed: %s", exc)

        threading.Thread(target=loop, daemon=True, name="norvale-health").start()

    def check_services(self) -> None:
        with self.checking:  # the health thread, and a run that met an outage
            self._check_services()

    def _check_services(self) -> None:
        down: dict[str, str] = {}
        try:
            self._look_at_record()
        except self.outage as exc:
            down["result store"] = str(exc) or type(exc).__name__
        try:
            self._probe_store_within(PROBE_LIMIT)
        except Exception as exc:  # noqa: BLE001  (whatever the store's library raises)
            down["file store"] = str(exc) or type(exc).__name__
        gone = [(service, cause) for service, cause in down.items() if service not in self.down]
        back = [service for service in self.down if service not in down]
        self.down = down
        if down and not self.paused:
            # paused once the command went out, answered or not: a late answer still stops the
            # consumer, and a node that took itself for consuming would never start it again
            self.paused = self._consume(False) is not None
        elif not down and self.paused:
            self.paused = not self._consume(True)  # sent again until answered (a second start is harmless)
        for service, cause in gone:  # said once the node has stopped consuming
            log.warning("the %s at %s is unreachable (%s): this node takes no new jobs until it is back",
                        service, settings.mask_url(self.urls[service]), cause)
        for service in back:  # said once the node consumes again (or would, with another service down)
            log.info("the %s is reachable again: this node takes jobs again", service)

    def _look_at_record(self) -> None:
        """Looks at the result store's record of runs (and so whether the store answers); says so
        when the store has lost its keys since the last look."""
        record = text(self._look_script(keys=[settings.record_key(self.prefix)], args=[self.record]))
        if self.record and record != self.record and record.endswith(" lost"):
            log.warning("the result store at %s has lost its keys (a restart without persistence?): a job "
                        "handed out before is started again only once no run of it can be alive (%g s)",
                        settings.mask_url(self.urls["result store"]), settings.LEASE_TTL)
        self.record = record

    def _probe_store_within(self, limit: float) -> None:
        """Looks at the file store; an object store that gives no answer within `limit` s counts as
        unreachable (its client library would retry for half a minute or more, the while this node
        would not look at the result store either)."""
        if self.store.local:
            if not os.path.isdir(self.store.root):
                raise FileNotFoundError(f"the folder {self.store.root} does not exist")
            return
        self._probes = [t for t in self._probes if t.is_alive()]
        if len(self._probes) >= 3:
            raise TimeoutError(f"no answer within {limit:g} s")  # the last looks still wait
        failed: list[BaseException] = []

        def probe() -> None:
            try:
                self._probe_store()
            except BaseException as exc:  # noqa: BLE001  (reported by the caller)
                failed.append(exc)

        look = threading.Thread(target=probe, daemon=True, name="norvale-store-probe")
        self._probes.append(look)
        look.start()
        look.join(limit)
        if look.is_alive():
            raise TimeoutError(f"no answer within {limit:g} s")
        if failed:
            raise failed[0]

    def _probe_store(self) -> None:
        fs = self.store.fs
        fs.invalidate_cache()
        try:
            fs.info(self.store.root)
        except FileNotFoundError:
            pass  # an empty store: the service answered

    def _consume(self, on: bool) -> Optional[bool]:
        """Starts or stops this node's consumption of its queues (through the broker's remote control):
        whether the node answered, None when the command could not be sent."""
        try:
            control = self.app.control
            answered = True
            for queue in self.queues:
                if on:
                    replies = control.add_consumer(queue, destination=[self.hostname], reply=True, timeout=2.0)
                else:
                    replies = control.cancel_consumer(queue, destination=[self.hostname], reply=True, timeout=2.0)
                answered = answered and bool(replies)
            return answered
        except Exception as exc:  # noqa: BLE001  (the broker is away too: the next round tries again)
            log.debug("could not %s consuming: %s", "resume" if on else "stop", exc)
            return None

    def clean_up_orphans(self) -> None:
        """Removes the store objects and keys of ended jobs whose client stopped waiting."""
        key = settings.orphans_key(self.prefix)
        cutoff = time.time() - settings.CLIENT_GONE
        for raw in self.redis.zrangebyscore(key, 0, cutoff, start=0, num=100):
            job_id = raw.decode() if isinstance(raw, bytes) else str(raw)
            keys = settings.Keys(self.prefix, job_id)
            if self.redis.exists(keys.done) and not self.redis.exists(keys.client):
                self._forget(job_id, keys)
                log.info("job %s: nobody waited for its end; its store objects and keys were removed", job_id[:8])
            self.redis.zrem(key, job_id)

    def _forget(self, job_id: str, keys: settings.Keys) -> None:
        self.store.remove_job(job_id)
        pipe = self.redis.pipeline()
        pipe.set(keys.ended, "1", ex=settings.ENDED_TTL)
        pipe.delete(*keys.transient())
        pipe.zrem(settings.orphans_key(self.prefix), job_id)
        pipe.execute()

    # -- one job ------------------------------------------------------------------------------
    def run_job(self, task: Any, job_id: str, integration: str, timeout: float, budget: float,
                max_attempts: int, fresh: bool = False) -> None:
        with self.lock:
            self.active += 1
        later: list[Callable[[], None]] = []  # a run's clean-up, done after its end is reported
        try:
            self._run_job(task, job_id, integration, timeout, budget, max_attempts, fresh, later)
        finally:
            if later:
                self.cleanups.put((job_id, later))
            with self.lock:
                self.active -= 1

    def _run_job(self, task: Any, job_id: str, integration: str, timeout: float, budget: float,
                 max_attempts: int, fresh: bool, later: list[Callable[[], None]]) -> None:
        from celery.exceptions import Reject

        settings.check_job_id(job_id)
        if self.stopping.is_set():
            raise Reject("the worker is stopping", requeue=True)
        keys = settings.Keys(self.prefix, job_id)
        # a delivery handed out before (by the broker again, or sent back by a node once it had
        # met a run of the job) may have started a run; a first one cannot have
        again = bool((task.request.delivery_info or {}).get("redelivered")
                     or (task.request.retries and not fresh))
        try:
            lease = self._take(keys, job_id, integration, max_attempts, again)
        except self.outage as exc:
            self._outage("result store", exc)
            # no run of it began here; it comes back once the node has looked at the store again
            # (sent back at once, it came straight back to this node, tens of times a second)
            self._send_back(task, HEALTH_EVERY, fresh=not again)
        if lease is None:
            return
        if not isinstance(lease, Lease):
            # the first look again comes soon: the lease of a node that just died is freed by its
            # daemon; a record too young to tell is looked at again once it can
            first = not task.request.retries
            self._send_back(task, lease if isinstance(lease, float) else 1.0 if first else settings.LEASE_BUSY_RETRY)
        assert isinstance(lease, Lease)
        started = time.monotonic()
        attempt = lease.attempt
        log.info("job %s (%s) started on %s, attempt %d", job_id[:8], integration, self.name, attempt)
        uploaded: list[str] = []
        try:
            result: dict[str, Any] = self._run(job_id, integration, timeout, budget, keys, lease, started, attempt,
                                               uploaded, later)
        except HandBack:
            self._hand_back(keys, lease)
            log.info("job %s (%s) handed back to the queue: the worker is stopping", job_id[:8], integration)
            raise Reject("the worker is stopping", requeue=True) from None
        except StoreDown as exc:
            self._hand_back(keys, lease)
            self._outage("file store", exc.__cause__ or exc)
            raise Reject("the file store is unreachable", requeue=True) from None
        except LeaseLost as lost:
            self._drop(job_id, uploaded)
            log.warning("job %s (%s): its lease was %s; the program was stopped and its result dropped",
                        job_id[:8], integration, lost)
            if lost.elsewhere:
                return  # the run that holds the lease owns the job now
            raise Reject("the lease could not be renewed", requeue=True) from None
        except ClientGone:
            log.info("job %s (%s): its client is gone; the program was stopped", job_id[:8], integration)
            lease.release()
            self._forget(job_id, keys)
            return
        except Exception as exc:  # the client must hear of every end, or it would wait for its time-out
            log.exception("job %s (%s) failed in the worker", job_id[:8], integration)
            result = {"status": "failure",
                      "message": f"The worker failed to run the job: {type(exc).__name__}: {exc}"}
        result["fence"] = lease.token
        elapsed = time.monotonic() - started
        outcome = result["status"] if result["status"] != "failure" else "failed: " + result["message"].splitlines()[0]
        if self._finish(keys, lease, result, uploaded):
            log.info("job %s (%s) ended after %.1f s: %s", job_id[:8], integration, elapsed, outcome)
            return
        self._drop(job_id, uploaded)
        raise Reject("the end of the job could not be reported", requeue=True)

    def _send_back(self, task: Any, countdown: float, fresh: bool = False) -> NoReturn:
        """Ends this delivery with a copy of it sent to its queue, confirmed by the broker, in
        `countdown` s (0: at once; Celery reads None as its default retry delay, three minutes);
        `fresh`: no run of the job began from it. Should the broker not take the copy, the
        delivery itself goes back (Celery would drop it)."""
        from celery.exceptions import Reject

        kwargs = dict(task.request.kwargs or {}, fresh=fresh)
        try:
            with settings.confirmed_connection(self.app) as conn:  # the job is not lost on its way back
                raise task.retry(kwargs=kwargs, countdown=countdown, max_retries=None, producer=conn.Producer())
        except Reject as exc:
            if exc.requeue:
                raise
            raise Reject(f"it could not be sent back to its queue: {exc.reason}", requeue=True) from None

    def _take(self, keys: settings.Keys, job_id: str, integration: str, max_attempts: int,
              again: bool = False) -> Lease | str | float | None:
        """The lease of a delivered job: a Lease to run it, "busy" when another run holds it, the
        seconds to wait when the delivery (`again`: handed out before) may have a run alive that
        the store has forgotten, None when the job has ended (nothing to run)."""
        r = self.redis
        suffix = f" {self.name} {os.getpid()}"
        started = json.dumps({"state": "started", "worker": self.name, "elapsed": 0.0, "last_line": ""})
        holder = ""
        for _ in range(2):  # a second look once the lease of a dead sibling node is freed
            taken = time.monotonic()  # the lease's life counts from before it was set
            answer = self._take_script(
                keys=[keys.ended, keys.cancel, keys.fence, keys.lease, keys.attempts, keys.progress,
                      settings.record_key(self.prefix)],
                args=[suffix, int(settings.LEASE_TTL * 1000), settings.KEY_TTL, max_attempts,
                      started[:-1] + ', "attempt": ', self.record, int(again), int(settings.LEASE_TTL),
                      int(settings.RETAKE_WINDOW)])
            code = int(answer[0])
            if code == 4:
                wait = float(answer[1]) + 0.5
                log.info("job %s (%s) was handed out before and the result store has no record of a run of "
                         "it (it lost its keys): not started here, looked at again in %.0f s once a run "
                         "alive elsewhere would have taken its lease back", job_id[:8], integration, wait)
                return wait
            if code == 0:
                log.info("job %s (%s) has ended already: this delivery is dropped", job_id[:8], integration)
                return None
            if code == 1:
                self._push_end(keys, {"status": "cancelled"})
                return None
            if code == 3:
                lease = Lease(r, keys, text(answer[1]))
                lease.renewed, lease.attempt = taken, int(answer[2])
                if lease.attempt > max_attempts:
                    log.warning("job %s (%s) given up: lost %d times", job_id[:8], integration, lease.attempt - 1)
                    self._finish(keys, lease, {"status": "failure",
                                               "message": lost_message(integration, lease.attempt - 1)})
                    return None
                return lease
            holder = text(answer[1])
            if not (self._dead_sibling(holder) and r.eval(_FREE, 1, keys.lease, holder, settings.KEY_TTL)):
                break
        log.info("job %s (%s) runs elsewhere (lease %s): not started here, looked at again soon",
                 job_id[:8], integration, holder)
        return "busy"

    def _dead_sibling(self, holder: str) -> bool:
        """Whether a lease holder ("<fence> <worker> <pid>") is a node of this worker that has died."""
        parts = holder.split()
        if len(parts) != 3 or parts[1] != self.name or not parts[2].isdigit() or int(parts[2]) == os.getpid():
            return False
        return process_gone(int(parts[2]))

    def _run(self, job_id: str, integration: str, timeout: float, budget: float, keys: settings.Keys,
             lease: Lease, started: float, attempt: int, uploaded: list[str],
             later: list[Callable[[], None]]) -> dict[str, Any]:
        """Runs the job; what it leaves on disk goes on `later` (removed once its end is reported)."""
        # a file of its own, no folder a job (a folder's removal is the dearer), in this node's
        # private folder (the file may be a link to the store's, readable by others); its name
        # tells the job supervisor to remove it, and the folder's this node's daemon
        local_job = ""
        later.append(lambda: _unlink(local_job))
        try:
            local_job = os.path.join(self._job_files(), f"{JOB_DIR_PREFIX}{job_id}-{lease.token}.json")
            self.store.get(self.store.job_file(job_id), local_job, link=True)  # only read here
        except Exception as exc:  # noqa: BLE001  (whatever the store's library raises)
            problem = _work_root_problem(self.config)
            if problem:
                return {"status": "failure", "message": problem}
            if isinstance(exc, FileNotFoundError):
                return {"status": "failure", "message": "Invalid job: the job file is not in the file store"}
            raise StoreDown() from exc
        watch = self._watch(keys, lease, started, attempt)
        try:
            result = execute_job(local_job, config=self.config, timeout=timeout,
                                 deadline=time.monotonic() + budget, watch=watch, integration=integration,
                                 dir_tag=deployment.node_dir_tag())
        except JobCancelled:
            return {"status": "cancelled"}
        except WorkerFailure as failure:
            return {"status": "failure", "message": failure.message, "exit_status": failure.exit_status,
                    "output": failure.output}
        later.append(result.release)

        # the upload carries this run's fence in its names; a run that has lost its lease
        # meanwhile is refused when it reports its end, and removes what it uploaded
        def upload(path: str) -> str:
            ref = f"{lease.token}-{len(uploaded)}-{os.path.basename(path)}"
            self.store.put(path, self.store.result_path(job_id, ref), link=True)  # the run is over
            uploaded.append(ref)
            return ref

        return {"status": "ok", "content": encode_content(result.content, upload),
                "exit_status": result.exit_status, "output": result.output}

    def _job_files(self) -> str:
        """This node's folder for the job files it fetches (created again should it go)."""
        with self.lock:
            if self.job_files is None or not os.path.isdir(self.job_files):
                self.job_files = make_dir(self.config, f"{JOB_DIR_PREFIX}{deployment.node_dir_tag()}")
            return self.job_files

    def _watch(self, keys: settings.Keys, lease: Lease, started: float, attempt: int) -> Callable[[str, str], None]:
        """What a run checks about ten times a second while its program runs."""
        # "started" stands until the first "running" report, a second in (a short job needs none)
        state = {"renewed": time.monotonic(), "progress": started, "client": time.monotonic(), "tried": 0.0,
                 "reachable": True}

        def watch(stdout_path: str, stderr_path: str) -> None:
            if self.stopping.is_set():
                raise HandBack()
            now = time.monotonic()
            if state["reachable"] or now - state["tried"] >= 1.0:
                state["tried"] = now
                try:
                    pipe = self.redis.pipeline(transaction=False)
                    pipe.exists(keys.cancel, keys.ended)
                    pipe.exists(keys.client)
                    cancelled, client = pipe.execute()
                    if not state["reachable"]:
                        state["client"] = now  # its client could not reach the store either
                    state["reachable"] = True
                    if cancelled:
                        raise JobCancelled()
                    if client:
                        state["client"] = now
                    elif now - state["client"] >= settings.CLIENT_GONE:
                        raise ClientGone()
                    if now - lease.renewed >= settings.RENEW_EVERY:
                        lease.renew()
                    if now - state["progress"] >= PROGRESS_EVERY:
                        state["progress"] = now
                        self._progress(keys, "running", now - started, last_line(stdout_path, stderr_path), attempt)
                except self.outage as exc:
                    if state["reachable"]:
                        log.warning("job %s: the result store is unreachable (%s); the program goes on while "
                                    "its lease lasts", keys.job_id[:8], type(exc).__name__)
                        self.wake.set()
                    state["reachable"] = False
            if lease.expired():
                raise LeaseLost(elsewhere=False)

        return watch

    def _hand_back(self, keys: settings.Keys, lease: Lease) -> None:
        try:
            self.redis.decr(keys.attempts)  # a hand-back is no loss
            self.redis.delete(keys.progress)
        except self.outage:
            pass
        lease.release()

    def _drop(self, job_id: str, uploaded: Sequence[str]) -> None:
        for ref in uploaded:
            try:
                self.store.fs.rm(self.store.result_path(job_id, ref))
            except Exception:  # noqa: BLE001  (the client's clean-up removes the job's folder anyway)
                pass

    def _outage(self, service: str, exc: BaseException) -> None:
        log.warning("the %s is unreachable (%s): the job goes back to its queue", service,
                    str(exc) or type(exc).__name__)
        self.check_services()

    def _progress(self, keys: settings.Keys, state: str, elapsed: float, line: str, attempt: int) -> None:
        report = {"state": state, "worker": self.name, "elapsed": round(elapsed, 1), "last_line": line,
                  "attempt": attempt}
        self.redis.set(keys.progress, json.dumps(report), ex=settings.KEY_TTL)

    def _push_end(self, keys: settings.Keys, result: dict[str, Any]) -> None:
        result = dict(result, worker=self.name)  # the client says which worker reported a failure
        pipe = self.redis.pipeline()
        pipe.delete(keys.progress)
        pipe.rpush(keys.done, json.dumps(result))
        pipe.expire(keys.done, settings.KEY_TTL)
        pipe.set(keys.ended, "1", ex=settings.ENDED_TTL)
        pipe.execute()

    def _finish(self, keys: settings.Keys, lease: Lease, result: dict[str, Any],
                uploaded: Sequence[str] = ()) -> bool:
        """Reports the end while the run holds its lease; False when it could not (the result is dropped)."""
        result = dict(result, worker=self.name)  # the client says which worker reported a failure
        delay = 0.2
        while True:
            try:
                # the end and the job's entry among those a sweep may clean up go together, so the
                # client's removal of that entry, after it read the end, never comes first
                done = self._finish_script(
                    keys=[keys.lease, keys.done, keys.progress, keys.ended, settings.orphans_key(self.prefix)],
                    args=[lease.value, json.dumps(result), settings.KEY_TTL, settings.ENDED_TTL, time.time(),
                          keys.job_id])
                if not done:
                    log.warning("job %s: another run holds its lease; this run's result is dropped",
                                keys.job_id[:8])
                    return False
                if done == 2:  # its client has stopped waiting: nothing to report, nothing to keep
                    self._drop(keys.job_id, uploaded)
                return True
            except self.outage:
                if lease.expired():
                    return False
                time.sleep(delay)
                delay = min(delay * 2, 1.0)  # a store back forgetful: take the lease back soon


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
    return WorkerConfig.from_mapping(data, path), dict(licences)


def _quiet_lost_acks(record: logging.LogRecord) -> bool:
    """One line, not a traceback, for the acknowledgement of a job whose broker connection was lost
    while it ran (the broker has handed the job out again; its lease decides what happens)."""
    if str(record.msg).startswith("Couldn't ack"):
        record.msg, record.args, record.exc_info, record.exc_text = (
            "a job that ran across a lost broker connection could not be acknowledged: the broker "
            "delivers it again and that delivery is dropped", None, None, None)
    return True


def _quiet_hand_back(record: logging.LogRecord) -> bool:
    """Celery logs a rejected (handed-back) job as a warning with a traceback; the node's own line
    says it already."""
    exc = record.exc_info[1] if record.exc_info else None
    return not (exc is not None and type(exc).__name__ == "Reject" and "the worker is stopping" in str(exc))


def _loop_thread_prefetch() -> type:
    """A consumer step: after a broker reconnection Celery lowers the prefetch count, and raises it
    again as the jobs received since end, from the thread that acknowledges each job. With the
    thread pool that is a run's thread, whose blocking basic.qos then reads the consumer's
    connection beside the event loop: the connection breaks ("UnexpectedFrame"), or the loop
    waits for good and the node takes no job. The raise goes through the event loop instead."""
    from celery import bootsteps

    class LoopThreadPrefetch(bootsteps.Step):  # type: ignore[misc]
        def __init__(self, c: Any, **kwargs: Any) -> None:
            restore = c._restore_prefetch_count_after_connection_restart
            c._restore_prefetch_count_after_connection_restart = lambda p, *args: c.call_soon(restore, p, *args)
            super().__init__(c, **kwargs)

    return LoopThreadPrefetch


def _reconnecting_soon(base: type) -> type:
    """The node's broker connection class: Celery's consumer tries a lost broker again 2, 4, 6 ...
    up to 30 s apart, so a node came back up to half a minute after its broker did, while jobs
    waited (and a job's time-out ran). Tried again 1, 2, 3, 4 s apart, then every RECONNECT_MAX s."""

    class Connection(base):  # type: ignore[misc]
        def ensure_connection(self, *args: Any, **kwargs: Any) -> Any:
            if len(args) <= 2:  # (errback, max_retries) as Celery gives them; the intervals not given
                kwargs.setdefault("interval_start", 1.0)
                kwargs.setdefault("interval_step", 1.0)
                kwargs.setdefault("interval_max", RECONNECT_MAX)
            return super().ensure_connection(*args, **kwargs)

    return Connection


def _batched_task_events() -> type:
    """A consumer step: Celery buffers a node's task events and sends the buffer at the next turn
    of its event loop, which with short jobs is nearly a message per event (three a job), each a
    cost to the node and the broker. The buffer goes once per settings.EVENTS_EVERY s instead, as Celery's
    own batch ("task.multi", which `celery events` and Flower read as they read single events)."""
    from celery import bootsteps

    class BatchedTaskEvents(bootsteps.Step):  # type: ignore[misc]
        def __init__(self, c: Any, **kwargs: Any) -> None:
            planned = [0.0]  # when the next send was planned (0: none is)

            def send() -> None:
                planned[0] = 0.0  # first: an event buffered from now on plans the next send
                c._flush_events()

            def plan() -> None:  # on the event loop's thread, which alone may set its timers
                c.hub.call_later(settings.EVENTS_EVERY, send)

            def buffered() -> None:  # from any thread, as an event is buffered
                now = time.monotonic()
                # planned again after a while: a plan may be lost as the loop restarts on a reconnection
                if c.hub is not None and now - planned[0] >= 10 * settings.EVENTS_EVERY:
                    planned[0] = now
                    c.hub.call_soon(plan)

            c.on_send_event_buffered = buffered
            super().__init__(c, **kwargs)

    return BatchedTaskEvents


def main(argv: Optional[list[str]] = None) -> int:
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
    parser.add_argument("--parent-fd", type=int, default=None, help="pipe whose end of file means the daemon is gone")
    args = parser.parse_args(argv)
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format="%(asctime)s " + f"{args.integration}@{args.name}" + " %(message)s")
    log.setLevel(logging.INFO)  # Celery sets the root logger's level to its own
    warnings.filterwarnings("ignore", message=".*superuser privileges")
    for noisy in ("celery", "kombu", "amqp", "botocore", "s3fs", "aiobotocore"):
        logging.getLogger(noisy).setLevel(logging.WARNING)
    logging.getLogger("celery.app.trace").addFilter(_quiet_hand_back)
    from celery import signals
    from celery.exceptions import CPendingDeprecationWarning

    # Celery's notice that it does not cancel running tasks on a lost broker: deliberate here
    warnings.filterwarnings("ignore", category=CPendingDeprecationWarning)
    for handler in logging.getLogger().handlers:
        handler.addFilter(_quiet_lost_acks)

    config, licences = load_worker_file(args.config)
    if args.broker and args.results and args.store:
        store_options = json.loads(args.store_options) if args.store_options else None
    else:
        urls = deployment.from_daemon()
        args.broker, args.results, args.store, store_options = urls.broker, urls.results, urls.store, urls.store_options
    # what a node publishes through its application is monitoring (task events, heartbeats) and
    # remote-control replies: no confirm for each, which would hold up its consumer between jobs
    app = settings.make_app(args.broker, args.results, confirm=False)
    app.amqp.Connection = _reconnecting_soon(app.amqp.Connection)
    app.steps["consumer"].add(_loop_thread_prefetch())
    app.steps["consumer"].add(_batched_task_events())
    node = Node(app=app, redis=settings.redis_client(args.results), store=FileStore(args.store, store_options),
                config=config, integration=args.integration, name=args.name, prefix=args.prefix,
                results_url=args.results, store_url=args.store)
    if args.parent_fd is not None:
        node.watch_parent(args.parent_fd)

    # max_retries=None: a delivery whose lease is held elsewhere comes back for as long as it is
    @app.task(name=settings.TASK_NAME, bind=True, max_retries=None)  # type: ignore[untyped-decorator]
    def run_job(task: Any, job_id: str, integration: str, timeout: float, budget: float,
                max_attempts: int = settings.DEFAULT_MAX_ATTEMPTS, fresh: bool = False) -> None:
        node.run_job(task, job_id, integration, timeout, budget, max_attempts, fresh)

    @signals.worker_shutting_down.connect  # type: ignore[untyped-decorator]
    def _stopping(**_: Any) -> None:
        node.stopping.set()
        node.quit_when_idle()

    node.queues = routing.node_queues(args.prefix, args.integration, config)
    worker = app.Worker(hostname=node.hostname, queues=node.queues, pool="threads",
                        concurrency=licences[args.integration], without_gossip=True, without_mingle=True,
                        without_heartbeat=False, quiet=True, loglevel="WARNING", redirect_stdouts=False)

    @signals.worker_ready.connect  # type: ignore[untyped-decorator]
    def _ready(**_: Any) -> None:
        log.info("node ready: serving %s with %d concurrent run(s)", ", ".join(node.queues), licences[args.integration])
        node.watch_services()

    worker.start()
    return int(worker.exitcode or 0)


if __name__ == "__main__":
    sys.exit(main())
