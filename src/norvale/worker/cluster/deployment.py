"""Where a worker's service URLs and secrets come from, and how they reach its nodes.

URLs with credentials come from the environment (NORVALE_BROKER_URL, NORVALE_RESULTS_URL,
NORVALE_STORE_URL, NORVALE_STORE_OPTIONS) or from the worker.json members "broker", "results",
"store", "store_options" (a file that holds them must not be readable by other users); the
command-line options still work but show the passwords in every process list, so the daemon
warns. The daemon hands them to its nodes through a pipe (one JSON line on the node's stdin),
never through their command lines or environments.
"""

from __future__ import annotations

import json
import os
import stat
import sys
import urllib.parse
from dataclasses import dataclass, field
from typing import IO, Any, Mapping, Optional

#: worker.json members that belong to the cluster, not to the worker configuration
DEPLOYMENT_KEYS = ("broker", "results", "store", "store_options", "script_integrations")
_SECRET_KEYS = ("broker", "results", "store", "store_options")
ENV = {"broker": "NORVALE_BROKER_URL", "results": "NORVALE_RESULTS_URL", "store": "NORVALE_STORE_URL",
       "store_options": "NORVALE_STORE_OPTIONS"}


class DeploymentError(ValueError):
    """A worker's set-up is refused; the message names the file (or variable) and the key."""


def read_worker_file(path: str) -> dict[str, Any]:
    """The JSON object of a worker.json file; errors name the file."""
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except ValueError as exc:
        raise DeploymentError(f"worker configuration {path!r} is not valid JSON: {exc}") from None
    if not isinstance(data, dict):
        raise DeploymentError(f"worker configuration {path!r} must hold a JSON object")
    if any(key in data for key in _SECRET_KEYS):
        mode = os.stat(path).st_mode
        if mode & (stat.S_IRGRP | stat.S_IROTH | stat.S_IWGRP | stat.S_IWOTH):
            keys = ", ".join(f'"{k}"' for k in _SECRET_KEYS if k in data)
            raise DeploymentError(
                f"worker configuration {path!r} holds {keys} but other users may read it "
                f"(mode {stat.filemode(mode)}): chmod 600 {path}")
    names = data.get("script_integrations", [])
    if not isinstance(names, list) or not all(isinstance(n, str) and n for n in names):
        raise DeploymentError(f'{path}: "script_integrations" must be a list of integration names')
    return data


def worker_config_part(path: str, data: dict[str, Any]) -> dict[str, Any]:
    """`data` without the cluster's members; registers the file's own script integrations."""
    from norvale.worker.config import register_script_integration

    for name in data.get("script_integrations", []):
        register_script_integration(name)
    return {k: v for k, v in data.items() if k not in DEPLOYMENT_KEYS}


@dataclass
class Urls:
    broker: str
    results: str
    store: str
    store_options: Optional[dict[str, Any]] = None
    #: where each came from, for messages: "--broker", "$NORVALE_BROKER_URL", 'worker.json "broker"'
    origins: dict[str, str] = field(default_factory=dict)

    def secret(self) -> dict[str, Any]:
        return {"broker": self.broker, "results": self.results, "store": self.store,
                "store_options": self.store_options}


def has_password(url: Optional[str]) -> bool:
    if not url:
        return False
    try:
        return urllib.parse.urlsplit(url).password is not None
    except ValueError:
        return False


def resolve(path: str, data: dict[str, Any], given: dict[str, Optional[str]],
            environ: Optional[Mapping[str, str]] = None) -> tuple[Urls, list[str]]:
    """The URLs a daemon uses, by precedence: command line, environment, worker.json.

    Returns them and the warnings to log (passwords given on the command line)."""
    env: Mapping[str, str] = os.environ if environ is None else environ
    values: dict[str, Any] = {}
    origins: dict[str, str] = {}
    warnings = []
    for key in ("broker", "results", "store", "store_options"):
        option = "--" + key.replace("_", "-")
        if given.get(key):
            values[key], origins[key] = given[key], option
            if has_password(given[key]):
                warnings.append(f"the {key} password is given on the command line, where every user of this "
                                f"machine sees it (ps): give it in ${ENV[key]} or in {path}")
        elif env.get(ENV[key]):
            values[key], origins[key] = env[ENV[key]], f"${ENV[key]}"
        elif data.get(key) is not None:
            values[key], origins[key] = data[key], f'{path} "{key}"'
        elif key != "store_options":
            raise DeploymentError(f"no {key} URL: give it in ${ENV[key]}, as \"{key}\" in {path}, or with {option}")
    options = values.get("store_options")
    if isinstance(options, str):
        try:
            options = json.loads(options)
        except ValueError as exc:
            raise DeploymentError(f"{origins['store_options']}: the store options are not valid JSON: {exc}") from None
    if options is not None and not isinstance(options, dict):
        raise DeploymentError(f"{origins['store_options']}: the store options must be a JSON object")
    for key in ("broker", "results", "store"):
        if not isinstance(values[key], str):
            raise DeploymentError(f"{origins[key]}: the {key} URL must be a text")
    return Urls(values["broker"], values["results"], values["store"], options, origins), warnings


def node_environment() -> dict[str, str]:
    """The daemon's environment without the cluster's secrets, for its nodes (and their programs)."""
    return {k: v for k, v in os.environ.items() if k not in ENV.values()}


def hand_to_node(stdin: Optional[IO[bytes]], urls: Urls) -> None:
    """Gives a just-started node its URLs (one JSON line on its stdin, then end of file)."""
    if stdin is None:
        return
    try:
        stdin.write(json.dumps(urls.secret()).encode("utf-8") + b"\n")
        stdin.close()
    except OSError:
        pass  # the node died at once; the daemon sees it end


def from_daemon(stream: Optional[IO[str]] = None) -> Urls:
    """A node's URLs, read from the line its daemon wrote on its stdin."""
    source = sys.stdin if stream is None else stream
    line = source.readline() if source is not None else ""
    try:
        data = json.loads(line)
    except ValueError:
        raise DeploymentError("the node was started without its URLs (run norvale-worker, not the node)") from None
    return Urls(data["broker"], data["results"], data["store"], data.get("store_options"))


def node_dir_tag() -> str:
    """What a node's job folders carry in their names ("norvale-run-n<pid>-..."): its process id, so
    that its daemon can remove what a node that died left behind."""
    return f"n{os.getpid()}-"


def remove_dirs_of(work_root: Optional[str], pid: int) -> int:
    """Removes the job folders and job files of the (dead) node `pid` in `work_root`; returns how many there were."""
    import shutil
    import tempfile

    root = work_root or tempfile.gettempdir()
    try:
        names = os.listdir(root)
    except OSError:
        return 0
    mine = [n for n in names if n.startswith((f"norvale-run-n{pid}-", f"norvale-result-n{pid}-", f"norvale-job-n{pid}-"))]
    for name in mine:
        path = os.path.join(root, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            try:
                os.unlink(path)  # a node's copy of a job file
            except OSError:
                pass
    return len(mine)
