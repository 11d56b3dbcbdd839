"""Checks of what a cluster is given: the services' URLs and credentials, and a worker's set-up.

`connect()` checks the broker, the result store, the file store and `result_root` before it
returns; the daemon checks the same and its worker.json before it consumes a job. Every failure
is one `ClusterSetupError` whose message names the service, its URL (password masked) and the
cause, never a library's own exception.
"""

from __future__ import annotations

import os
import shutil
import socket
import threading
import uuid
from typing import Any, Callable, Optional

from norvale.errors import ExecutionError
from norvale.worker.cluster.settings import mask_url

#: Seconds all the services' checks may take together.
CHECK_TIME = 5.0


class ClusterSetupError(ExecutionError):
    """A service of the cluster cannot be used with what it was given.

    service: "broker", "result store" or "file store" (or "result_root"); url: its URL, password
    masked.
    """

    def __init__(self, message: str, *, service: str = "", url: str = "") -> None:
        super().__init__(message)
        self.service = service
        self.url = url


def service_error(service: str, url: str, cause: str) -> ClusterSetupError:
    """ "The <service> at <masked url> <cause>", the one wording of every service failure."""
    shown = mask_url(url)
    return ClusterSetupError(f"The {service} at {shown} {cause}", service=service, url=shown)


def _network_cause(exc: BaseException, seconds: float) -> str:
    if isinstance(exc, ConnectionRefusedError) or "refused" in str(exc).lower():
        return "is unreachable: the connection was refused (is the server running, is the port right?)"
    if isinstance(exc, socket.gaierror) or "name or service not known" in str(exc).lower():
        return f"is unreachable: the host name cannot be resolved ({exc})"
    if isinstance(exc, (socket.timeout, TimeoutError)) or "timed out" in str(exc).lower():
        return f"is unreachable: no answer within {seconds:g} s"
    return f"is unreachable: {exc or type(exc).__name__}"


# -- the services -------------------------------------------------------------------------------
def check_broker(url: str, *, timeout: float = CHECK_TIME, ssl: Any = None,
                 transport_options: Optional[dict[str, Any]] = None) -> None:
    """Opens (and closes) one connection to the broker; ClusterSetupError saying why it cannot."""
    from kombu.connection import Connection as _Connection

    Connection: Any = _Connection  # kombu ships no annotations

    user = _user(url)
    try:
        with Connection(url, connect_timeout=timeout, ssl=ssl, heartbeat=0,
                        transport_options=dict(transport_options or {})) as conn:
            conn.connect()
    except Exception as exc:
        text = str(exc)
        name = type(exc).__name__
        if name == "AccessRefused" or "ACCESS_REFUSED" in text:
            raise service_error("broker", url, f"refused the user {user!r}: wrong user name or password") from None
        if name == "NotAllowed" or "NOT_ALLOWED" in text:
            vhost = _vhost(url)
            raise service_error("broker", url, f"has no virtual host {vhost!r} that the user {user!r} may use "
                                               f"(create it, or grant the user access to it)") from None
        raise service_error("broker", url, _network_cause(exc, timeout)) from None


def check_result_store(url: str, *, timeout: float = CHECK_TIME) -> None:
    """Connects to the result store and asks it one question; ClusterSetupError saying why it cannot."""
    import redis
    import redis.exceptions
    from redis.backoff import NoBackoff
    from redis.retry import Retry

    client = None
    try:
        client = redis.Redis.from_url(url, socket_connect_timeout=timeout, socket_timeout=timeout,
                                      retry=Retry(NoBackoff(), 0))
        client.ping()
    except ValueError as exc:
        raise service_error("result store", url, f"is not a usable Redis URL: {exc}") from None
    except redis.exceptions.AuthenticationError as exc:
        if "HELLO must be called" in str(exc) or "NOAUTH" in str(exc):
            raise service_error("result store", url, "requires a password: give it in the URL "
                                                     "(redis://:<password>@host:port/db)") from None
        cause = "refused the password" if "password" in str(exc).lower() or "WRONGPASS" in str(exc) else \
            "refused the credentials"
        raise service_error("result store", url, f"{cause}: {exc}") from None
    except redis.exceptions.ResponseError as exc:
        text = str(exc)
        if "NOAUTH" in text or "Authentication required" in text:
            raise service_error("result store", url, "requires a password: give it in the URL "
                                                     "(redis://:<password>@host:port/db)") from None
        if "without any password configured" in text or "AUTH" in text:
            raise service_error("result store", url, f"refused the password: {text}") from None
        raise service_error("result store", url, f"refused the connection: {text}") from None
    except (redis.exceptions.ConnectionError, redis.exceptions.TimeoutError, OSError) as exc:
        root = exc.__cause__ or exc.__context__ or exc
        raise service_error("result store", url, _network_cause(root if isinstance(root, OSError) else exc,
                                                                timeout)) from None
    finally:
        if client is not None:
            client.close()


def check_file_store(url: str, options: Optional[dict[str, Any]] = None) -> None:
    """The store's root must exist and take a file; ClusterSetupError saying why it does not."""
    from norvale.worker.cluster.store import FileStore

    try:
        store = FileStore(url, options)
    except ImportError as exc:
        raise service_error("file store", url, f"needs a library that is not installed: {exc}") from None
    except Exception as exc:
        raise service_error("file store", url, f"cannot be opened: {exc}") from None
    fs, root = store.fs, store.root
    local = "file" in _protocols(fs)
    try:
        if local:
            exists = os.path.isdir(root)
        else:  # an object store: its bucket must exist, prefixes come with their objects
            fs.info(root.split("/", 1)[0])
            exists = True
    except FileNotFoundError:
        exists = False
    except Exception as exc:  # an unreachable endpoint, refused credentials
        raise service_error("file store", url, _store_cause(exc)) from None
    if not exists:
        hint = "create the folder (every machine of the cluster must reach it)" if local else \
            "create the bucket (or the prefix's bucket)"
        raise service_error("file store", url, f"does not exist: {hint}")
    probe = f"{root.rstrip('/')}/.norvale-check-{uuid.uuid4().hex}"
    try:
        fs.pipe_file(probe, b"")
    except Exception as exc:
        raise service_error("file store", url, f"is not writable: {_store_cause(exc, bare=True)}") from None
    try:
        fs.rm_file(probe)
    except Exception:
        pass


def _store_cause(exc: BaseException, bare: bool = False) -> str:
    text = str(exc) or type(exc).__name__
    lowered = text.lower()
    if not bare and any(s in lowered for s in ("connect", "endpoint", "timed out", "refused", "unreachable")):
        return f"is unreachable: {text}"
    if any(s in lowered for s in ("accessdenied", "access denied", "forbidden", "invalidaccesskeyid",
                                  "signaturedoesnotmatch", "permission")):
        return (f"refused the credentials: {text}" if not bare else f"permission denied ({text})")
    return text if bare else f"cannot be used: {text}"


def _protocols(fs: Any) -> tuple[str, ...]:
    protocol = getattr(fs, "protocol", ())
    return (protocol,) if isinstance(protocol, str) else tuple(protocol)


def check_result_root(path: Optional[str]) -> None:
    if path is None:
        return
    if not os.path.isdir(path):
        raise ClusterSetupError(f"result_root {path!r} does not exist: create it, or leave result_root out "
                                f"for the system's temporary directory", service="result_root")
    if not os.access(path, os.W_OK | os.X_OK):
        raise ClusterSetupError(f"result_root {path!r} is not writable by this process", service="result_root")


def check_services(checks: list[tuple[str, str, Callable[[], None]]], limit: float = CHECK_TIME) -> None:
    """Runs the checks side by side; raises the first failure in their order (the rest as notes).

    A check that has not answered within `limit` seconds counts as its service not answering
    (some clients retry for much longer than they are told)."""
    outcome: dict[str, Optional[BaseException]] = {}
    threads = []
    urls = {label: url for label, url, _ in checks}
    for label, _, check in checks:
        def run(label: str = label, check: Callable[[], None] = check) -> None:
            try:
                check()
                outcome[label] = None
            except BaseException as exc:  # noqa: BLE001 (handed to the caller)
                outcome[label] = exc
        thread = threading.Thread(target=run, name=f"norvale-check-{label}", daemon=True)
        thread.start()
        threads.append((label, thread))
    import time

    end = time.monotonic() + limit - 0.5
    for _, thread in threads:
        thread.join(max(0.0, end - time.monotonic()))
    failures: list[BaseException] = []
    for label, _ in threads:
        if label not in outcome:
            failures.append(service_error(label, urls[label], f"is unreachable: no answer within {limit:g} s"))
        else:
            failure = outcome[label]
            if failure is not None:
                failures.append(failure)
    if failures:
        first = failures[0]
        for other in failures[1:]:
            first.add_note(str(other))
        raise first


def check_cluster(broker: str, results: str, store: str, *, store_options: Optional[dict[str, Any]] = None,
                  broker_ssl: Any = None, broker_transport_options: Optional[dict[str, Any]] = None,
                  result_root: Optional[str] = None, labels: Optional[dict[str, str]] = None) -> None:
    """Every service a client or a worker needs, checked within CHECK_TIME seconds."""
    check_result_root(result_root)
    check_services([
        ("broker", broker, lambda: check_broker(broker, ssl=broker_ssl, transport_options=broker_transport_options,
                                        timeout=CHECK_TIME - 1)),
        ("result store", results, lambda: check_result_store(results, timeout=CHECK_TIME - 1)),
        ("file store", store, lambda: check_file_store(store, store_options)),
    ])


# -- a worker's own set-up -----------------------------------------------------------------------
def name_in_use(app: Any, name: str, integrations: list[str], timeout: float = 1.0) -> list[str]:
    """The live nodes (Celery host names `<integration>@<name>`) that answer for worker `name`."""
    try:
        replies = app.control.ping(timeout=timeout)
    except Exception:
        return []
    live = [host for reply in replies or [] for host in reply]
    return sorted(h for h in live if h.rsplit("@", 1)[-1] == name)


def program_problem(command: list[str]) -> Optional[str]:
    """Why `command` cannot start, as far as can be told without running it; None when it looks runnable."""
    program = command[0]
    found = shutil.which(program) if os.sep not in program else (program if os.path.exists(program) else None)
    if found is None:
        return f"the program {program!r} does not exist"
    if not os.access(found, os.X_OK) or os.path.isdir(found):
        return f"the program {program!r} cannot be run (not an executable file)"
    return None


def _user(url: str) -> str:
    import urllib.parse

    try:
        return urllib.parse.unquote(urllib.parse.urlsplit(url).username or "guest")
    except ValueError:
        return "?"


def _vhost(url: str) -> str:
    import urllib.parse

    try:
        path = urllib.parse.urlsplit(url).path
    except ValueError:
        return "?"
    if path in ("", "/"):
        return "/"
    return urllib.parse.unquote(path[1:])


def check_worker(path: str, config: Any, licences: dict[str, int]) -> None:
    """A worker.json whose licences this machine cannot serve is refused, naming the file and the key."""
    from norvale.worker.cluster.deployment import DeploymentError
    from norvale.worker.config import PROGRAM_INTEGRATIONS, known_integrations

    known = known_integrations()
    for name in licences:
        if name not in known:
            raise DeploymentError(
                f'{path}: "licences": {name!r} is not a known integration (the known ones: {", ".join(known)}); '
                f'a script integration of your own: list it in "script_integrations"')
        command = config.program(name)
        if name in PROGRAM_INTEGRATIONS and not command:
            raise DeploymentError(
                f'{path}: "licences" names {name!r}, but "programs" has no command for it: add '
                f'"programs": {{"{name}": [<command>, ...]}}')
        problem = program_problem(command) if command else None
        if problem:
            raise DeploymentError(f'{path}: "programs": {name!r}: {problem}')
        if name not in PROGRAM_INTEGRATIONS and config.local_scripts_only and not config.scripts:
            raise DeploymentError(
                f'{path}: "licences" names {name!r}, but this worker can run no {name} job: '
                f'"local_scripts_only" is true and "scripts" is empty')
    for key, script in config.scripts.items():
        if not os.path.isfile(script) or not os.access(script, os.R_OK):
            raise DeploymentError(f'{path}: "scripts": {key!r}: the script {script!r} cannot be read')
    if config.run_as is not None:
        check_run_as(path, config, licences)


def check_run_as(path: str, config: Any, licences: dict[str, int]) -> None:
    """The user of "run_as" must be able to reach its job folders and start every program."""
    import pwd
    import sys
    import tempfile

    from norvale.worker.cluster.deployment import DeploymentError

    if os.geteuid() != 0:
        raise DeploymentError(f'{path}: "run_as": the worker must run as root to run programs as '
                              f'{config.run_as!r} (it runs as uid {os.geteuid()})')
    user = pwd.getpwnam(config.run_as)
    if user.pw_uid == 0:
        raise DeploymentError(f'{path}: "run_as": {config.run_as!r} is root; name a user of its own')
    root = config.work_root or tempfile.gettempdir()
    if not _reachable(root, user, need=0):
        raise DeploymentError(f'{path}: "work_root": the user {config.run_as!r} of "run_as" cannot enter '
                              f'{root!r} (every folder on its way needs o+x, or the user as owner)')
    for name in licences:
        command = config.interpreter(name) if name not in _program_integrations() else config.program(name)
        found = shutil.which(command[0]) if command else None
        if found and not _reachable(os.path.realpath(found), user, need=1):
            key = f'"programs": {name!r}' if config.program(name) else f'"licences": {name!r} (the default interpreter {sys.executable!r})'
            raise DeploymentError(f'{path}: {key}: the user {config.run_as!r} of "run_as" cannot run '
                                  f'{found!r}: configure a program it can reach')


def _program_integrations() -> tuple[str, ...]:
    from norvale.worker.config import PROGRAM_INTEGRATIONS

    return PROGRAM_INTEGRATIONS


def _reachable(target: str, user: Any, need: int) -> bool:
    """Whether `user` can pass every folder on the way to `target` and, with need=1, execute it."""
    import stat as st

    def allowed(p: str, bits: tuple[int, int, int]) -> bool:
        try:
            info = os.stat(p)
        except OSError:
            return False
        if info.st_uid == user.pw_uid:
            return bool(info.st_mode & bits[0])
        if info.st_gid == user.pw_gid:
            return bool(info.st_mode & bits[1])
        return bool(info.st_mode & bits[2])

    x = (st.S_IXUSR, st.S_IXGRP, st.S_IXOTH)
    folder = os.path.abspath(target if not need else os.path.dirname(target))
    parts = [folder]
    while folder != os.path.dirname(folder):
        folder = os.path.dirname(folder)
        parts.append(folder)
    if not all(allowed(p, x) for p in parts):
        return False
    return not need or allowed(target, x)


def start_checks(path: str, name: str, prefix: str, given: dict[str, Optional[str]]) -> tuple[Any, dict[str, int], Any, list[str]]:
    """Everything the daemon checks before its nodes consume: its worker.json, the services with its
    credentials, its name. Returns (config, licences, urls, warnings); raises DeploymentError or
    ClusterSetupError (an ExecutionError) with a message naming where the fault is."""
    from norvale.worker.cluster import deployment, settings
    from norvale.worker.cluster.node import load_worker_file

    settings.check_prefix(prefix)
    data = deployment.read_worker_file(path)
    try:
        config, licences = load_worker_file(path)
    except ValueError as exc:
        text = str(exc)
        raise deployment.DeploymentError(text if path in text else f"{path}: {text}") from None
    urls, warnings = deployment.resolve(path, data, given)
    check_worker(path, config, licences)
    try:
        check_cluster(urls.broker, urls.results, urls.store, store_options=urls.store_options,
                      result_root=None)
    except ClusterSetupError as exc:
        origin = urls.origins.get({"broker": "broker", "result store": "results", "file store": "store"}
                                  .get(exc.service, ""), "")
        raise deployment.DeploymentError(f"{origin}: {exc}" if origin else str(exc)) from None
    from norvale.worker.cluster.names import check_name_free

    check_name_free(settings.redis_client(urls.results), prefix, name)  # the mark of a live daemon
    app = settings.make_app(urls.broker, urls.results)
    try:  # nodes of that name that answer (a daemon of another prefix's mark, or nodes without one)
        live = name_in_use(app, name, list(licences))
    finally:
        app.close()
    if live:
        raise deployment.DeploymentError(
            f"the worker name {name!r} is in use by a live worker (its nodes {', '.join(live)} answer): give this worker another "
            f"--name, or stop the other norvale-worker first")
    return config, licences, urls, warnings
