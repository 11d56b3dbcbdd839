"""The file store: job files and result files travel through it by reference, streamed."""

from __future__ import annotations

import os
import posixpath
import shutil
import stat
from typing import Any, Callable, Optional

from norvale.worker.cluster.settings import check_job_id
from norvale.worker.protocol import ResultBody

REF_KEY = "$norvale-store"
JOB_FILE = "job.json"


class FileStore:
    """One fsspec file system and a root inside it; every job has its own folder `<root>/<job id>`."""

    def __init__(self, url: str, options: Optional[dict[str, Any]] = None) -> None:
        import fsspec

        self.url = url
        self.fs: Any
        self.fs, root = fsspec.core.url_to_fs(url, **(options or {}))
        self.root = root.rstrip("/") or "/"
        protocol = self.fs.protocol if isinstance(self.fs.protocol, str) else self.fs.protocol[0]
        self.local = protocol in ("file", "local")
        # the mode a copied file gets; a file of another mode is copied, not linked
        umask = _umask() if self.local else None
        self._copy_mode = None if umask is None else 0o666 & ~umask

    def job_dir(self, job_id: str) -> str:
        return posixpath.join(self.root, check_job_id(job_id))

    def job_file(self, job_id: str) -> str:
        return posixpath.join(self.job_dir(job_id), JOB_FILE)

    def result_path(self, job_id: str, ref: Any) -> str:
        """The store path of a result reference; a reference is a plain name inside the job's folder
        (beside its job file: one folder a job, the cheaper on a shared folder)."""
        if (not isinstance(ref, str) or not ref or "/" in ref or "\\" in ref or ref in (".", "..")
                or ref.startswith(".") or ref == JOB_FILE):
            raise ValueError(f"invalid result reference {ref!r}")
        return posixpath.join(self.job_dir(job_id), ref)

    def put(self, local_path: str, remote_path: str, *, link: bool = False) -> None:
        """Copies a local file into the store. `link`: the file is never written again (the caller
        only reads or removes it), so a `file://` store on its file system may take it as a hard link."""
        if self.local:  # a folder of this machine: what fsspec would do, without its path handling
            os.makedirs(posixpath.dirname(remote_path), exist_ok=True)
            if not (link and self._link(local_path, remote_path)):
                shutil.copyfile(local_path, remote_path)
            return
        try:
            self.fs.makedirs(posixpath.dirname(remote_path), exist_ok=True)
        except (OSError, NotImplementedError):
            pass  # stores without folders
        self.fs.put_file(local_path, remote_path)

    def get(self, remote_path: str, local_path: str, *, link: bool = False) -> None:
        """Copies a store object to a local file; `link` as for `put` (the store object is never
        written again either: it is only read and removed)."""
        if not (link and self._link(remote_path, local_path)):
            if self.local:
                shutil.copyfile(remote_path, local_path)
            else:
                self.fs.get_file(remote_path, local_path)

    def _link(self, source: str, target: str) -> bool:
        """Makes `target` a hard link to `source` where that gives what a copy would: a file of this
        user with the mode of a new file, on one file system. False: copy it."""
        if self._copy_mode is None:
            return False
        st = os.stat(source)  # a missing source fails as a copy would
        if st.st_uid != os.geteuid() or stat.S_IMODE(st.st_mode) != self._copy_mode:
            return False
        try:
            try:
                os.link(source, target)
            except FileExistsError:
                os.unlink(target)  # replaced, never written through: it may be a link itself
                os.link(source, target)
            return True
        except OSError:
            return False  # another file system, links not allowed: a copy says what is wrong

    def remove_job(self, job_id: str) -> None:
        path = self.job_dir(job_id)
        try:
            if self.local:
                shutil.rmtree(path)
            else:
                self.fs.rm(path, recursive=True)
        except FileNotFoundError:
            pass


def _umask() -> Optional[int]:
    """This process's umask, read without changing it (another thread may create files meanwhile)."""
    try:
        with open("/proc/self/status", encoding="ascii") as f:
            for line in f:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    return None  # unknown: nothing is linked


def encode_content(content: Any, upload: Callable[[str], str]) -> Any:
    """A copy of result content with every on-disk body replaced by {REF_KEY: name}; `upload(path) -> name`."""
    if isinstance(content, ResultBody):
        return {REF_KEY: upload(content.path)}
    if isinstance(content, dict):
        return {k: encode_content(v, upload) for k, v in content.items()}
    if isinstance(content, (list, tuple)):
        return [encode_content(v, upload) for v in content]
    return content


def decode_content(content: Any, download: Callable[[Any], str]) -> Any:
    """The inverse of `encode_content`: `download(name) -> local path` gives each body its file."""
    if isinstance(content, dict):
        if set(content) == {REF_KEY}:
            return ResultBody(download(content[REF_KEY]))
        return {k: decode_content(v, download) for k, v in content.items()}
    if isinstance(content, list):
        return [decode_content(v, download) for v in content]
    return content
