"""The file store: job files and result files travel through it by reference, streamed."""

from __future__ import annotations

import os
import posixpath
from typing import Any, Callable, Optional

from norvale.worker.cluster.settings import check_job_id
from norvale.worker.protocol import ResultBody

REF_KEY = "$norvale-store"


class FileStore:
    """One fsspec file system and a root inside it; every job has its own folder `<root>/<job id>`."""

    def __init__(self, url: str, options: Optional[dict[str, Any]] = None) -> None:
        import fsspec

        self.url = url
        self.fs: Any
        self.fs, root = fsspec.core.url_to_fs(url, **(options or {}))
        self.root = root.rstrip("/") or "/"

    def job_dir(self, job_id: str) -> str:
        return posixpath.join(self.root, check_job_id(job_id))

    def job_file(self, job_id: str) -> str:
        return posixpath.join(self.job_dir(job_id), "job.json")

    def result_path(self, job_id: str, ref: Any) -> str:
        """The store path of a result reference; a reference is a plain name inside the job's folder."""
        if (not isinstance(ref, str) or not ref or "/" in ref or "\\" in ref or ref in (".", "..")
                or ref.startswith(".")):
            raise ValueError(f"invalid result reference {ref!r}")
        return posixpath.join(self.job_dir(job_id), "out", ref)

    def put(self, local_path: str, remote_path: str) -> None:
        try:
            self.fs.makedirs(posixpath.dirname(remote_path), exist_ok=True)
        except (OSError, NotImplementedError):
            pass  # stores without folders
        self.fs.put_file(local_path, remote_path)

    def get(self, remote_path: str, local_path: str) -> None:
        self.fs.get_file(remote_path, local_path)

    def remove_job(self, job_id: str) -> None:
        path = self.job_dir(job_id)
        try:
            self.fs.rm(path, recursive=True)
        except FileNotFoundError:
            pass


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
