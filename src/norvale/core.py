"""Core kit types: the `File` value and the add-on service endpoint."""

from __future__ import annotations

import importlib
import io
import os
import shutil
from typing import Any, BinaryIO, Callable, Mapping, Optional, TextIO, Union

from norvale.errors import InternalError

__all__ = ["File", "register_addon_service", "unregister_addon_service", "addon_services"]

_COPY_CHUNK = 1 << 20


class File:
    """A file value: bytes held in memory, or a file on disk read when needed.

    Build one with `File.from_data(...)` or `File.from_path(...)`. A file on disk is not loaded into
    memory until `getvalue_binary()` is asked for; `open_binary()` streams it.
    """

    __slots__ = ("_data", "_path", "_keepalive")

    def __init__(self) -> None:
        self._data: Optional[bytes] = b""
        self._path: Optional[str] = None
        self._keepalive: Any = None  # an owner that keeps a backing file on disk alive

    @classmethod
    def from_data(cls, data: Union[bytes, bytearray, memoryview, str]) -> "File":
        """A file holding `data` (text is stored as UTF-8)."""
        if isinstance(data, str):
            data = data.encode("utf-8")
        elif isinstance(data, (bytearray, memoryview)):
            data = bytes(data)
        elif not isinstance(data, bytes):
            raise TypeError(f"File.from_data() takes bytes or str, not {type(data).__name__}")
        file = cls()
        file._data = data
        return file

    @classmethod
    def from_path(cls, path: Union[str, "os.PathLike[str]"]) -> "File":
        """A file backed by the file at `path`, which must exist; its content is read when needed."""
        path = os.fspath(path)
        if not os.path.isfile(path):
            raise FileNotFoundError(f"No such file: '{path}'")
        file = cls()
        file._data = None
        file._path = os.path.abspath(path)
        return file

    def _disk_path(self) -> str:
        # A File holds either bytes or a path; this is asked only when it holds no bytes.
        assert self._path is not None
        return self._path

    @property
    def path(self) -> Optional[str]:
        """The backing file on disk, or None for a file held in memory."""
        return self._path

    @property
    def size(self) -> int:
        """Number of bytes."""
        if self._data is not None:
            return len(self._data)
        return os.path.getsize(self._disk_path())

    def getvalue_binary(self) -> bytes:
        """The whole content as bytes."""
        if self._data is not None:
            return self._data
        with open(self._disk_path(), "rb") as f:
            return f.read()

    def getvalue(self, encoding: str = "utf-8") -> str:
        """The whole content as text."""
        return self.getvalue_binary().decode(encoding)

    def open_binary(self) -> BinaryIO:
        """A new readable, seekable binary stream over the content; the caller closes it."""
        if self._data is not None:
            return io.BytesIO(self._data)
        return open(self._disk_path(), "rb")

    def open(self, encoding: str = "utf-8") -> TextIO:
        """A new text stream over the content; the caller closes it."""
        return io.TextIOWrapper(self.open_binary(), encoding=encoding)

    def save(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Writes the content to `path`."""
        with self.open_binary() as src, open(path, "wb") as dst:
            shutil.copyfileobj(src, dst, _COPY_CHUNK)

    def __repr__(self) -> str:
        where = f"path={self._path!r}" if self._path is not None else f"{len(self._data or b'')} bytes"
        return f"<File {where}>"


def _file_base64_text(value: Any, bytes_io: Any = io.BytesIO) -> Optional[str]:
    """The Base64 text of a kit `File` backed by a file on disk, read in pieces; None for anything else.

    The integration modules ask this before `getvalue_binary()` + Base64, so a file of gigabytes
    is never in memory as bytes and as text at once. It answers for exactly the kit's `File` on
    disk; a subclass (which may read its content its own way), an in-memory file or a `bytes_io`
    (the caller's BytesIO type) is left to `getvalue_binary()`.
    """
    if type(value) is not File or value._path is None or isinstance(value, bytes_io):
        return None
    native = importlib.import_module("norvale._native")  # compiled, without a stub of its own

    text: str = native.b64encode_file(value._path)
    return text


# ---------------------------------------------------------------------------------------------
# Add-on services: platform services reached by an endpoint path. The kit brings its own services
# and looks them up in this registry; applications may register their own or replace the kit's.

AddonService = Callable[..., Any]

# Services the kit registers by default, imported on first use ("module:function").
_DEFAULT_SERVICES = {
    "filltarsistemplate/v10/jobs/": "norvale.services.tarsis_template:fill_template",
}
_services: dict[str, Union[AddonService, str]] = dict(_DEFAULT_SERVICES)


def register_addon_service(path: str, service: AddonService) -> None:
    """Serves the endpoint `path` with `service(payload, *, timeout)`, replacing any earlier one."""
    if not callable(service):
        raise TypeError("an add-on service must be callable")
    _services[path] = service


def unregister_addon_service(path: str) -> None:
    """Removes the service of `path`; the kit's default service comes back, if there is one."""
    _services.pop(path, None)
    if path in _DEFAULT_SERVICES:
        _services[path] = _DEFAULT_SERVICES[path]


def addon_services() -> Mapping[str, Union[AddonService, str]]:
    """The registered endpoint paths and their services (read-only view)."""
    return dict(_services)


def _resolve_service(path: str) -> AddonService:
    try:
        service = _services[path]
    except KeyError:
        raise InternalError(f"No add-on service is registered for the endpoint '{path}'") from None
    if isinstance(service, str):
        module_name, _, attr = service.partition(":")
        service = getattr(importlib.import_module(module_name), attr)
    return service


def _post_on_addon_endpoint(path: str, payload: Mapping[str, Any], *, timeout: Optional[float] = None) -> Any:
    """Posts `payload` to the add-on service at `path` and returns its reply.

    `timeout` is in seconds and is passed on to the service. A service that fails raises
    `InternalError`; an error of any other type raised inside a service is reported as
    `InternalError` too, with the original error as its cause.
    """
    service = _resolve_service(path)
    try:
        return service(payload, timeout=timeout)
    except InternalError:
        raise
    except Exception as exc:
        raise InternalError(f"Add-on service '{path}' failed: {exc}") from exc
