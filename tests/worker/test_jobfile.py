"""The job-file reader: bodies go to disk in pieces, everything else is plain data."""

import base64
import json
import tracemalloc

import pytest

from norvale.external.external_program import ResultBody
from norvale.worker.jobfile import JobFileError, read_job


def write(tmp_path, text):
    path = tmp_path / "job.json"
    path.write_text(text, encoding="utf-8")
    return str(path)


def test_plain_values_and_escapes(tmp_path):
    doc = {"integration": "x", "version": 1, "kind": "program",
           "content": {"s": 'quote " back \\ é \u2028 \U0001f600', "n": [1, -2.5e3, True, None, {}, []],
                       "files": [{"filename": "a", "type": "t", "body": base64.b64encode(b"\x00\x01").decode()}]}}
    job = read_job(write(tmp_path, json.dumps(doc)), str(tmp_path))
    body = job["content"]["files"][0]["body"]
    assert isinstance(body, ResultBody) and body.read_bytes() == b"\x00\x01"
    del job["content"]["files"]
    del doc["content"]["files"]
    assert job == doc


def test_large_body_is_streamed_with_bounded_memory(tmp_path):
    data = bytes(range(256)) * (120_000)  # about 30 MB, 41 MB of Base64
    text = '{"integration": "x", "content": {"f": {"body": "' + base64.b64encode(data).decode() + '"}}}'
    path = write(tmp_path, text)
    del text
    tracemalloc.start()
    try:
        job = read_job(path, str(tmp_path))
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert job["content"]["f"]["body"].read_bytes() == data
    assert peak < 12 * 2**20, f"peak {peak / 2**20:.1f} MB"


@pytest.mark.parametrize("text", [
    '{"integration": "x", "content": {"body": "abc"}}',            # bad Base64 length
    '{"integration": "x", "content": {"body": "ab\\u0041="}}',     # escapes in a body
    '{"integration": "x", "content": {"a": 1',                     # truncated
    '{"integration": "x", "content": {"a": tru}}',
    '{"integration": "x", "content": []}',
    '{"content": {}}',
    '{"integration": "x", "content": {}} trailing',
])
def test_malformed_job_files(tmp_path, text):
    with pytest.raises(JobFileError):
        read_job(write(tmp_path, text), str(tmp_path))


@pytest.mark.parametrize("data", [
    '{"integration": "x", "content": {"body": "QUJ\u00e9QUJD"}}'.encode(),      # non-ASCII in a body
    '{"integration": "x", "content": {"body": "QU\\\\JD"}}'.encode(),         # a backslash in a body
    b'{"integration": "x", "content": {"s": "\xff\xfe"}}',                   # not UTF-8
    b'{"integration": "x", "content": {"a": ' + b"[" * 100_000 + b"]" * 100_000 + b"}}",  # nested too deeply
    b"",
    b"\xef\xbb\xbf{}",
])
def test_every_malformed_job_file_is_the_workers_own_failure(tmp_path, data):
    from norvale.worker import LocalWorker, WorkerConfig
    from norvale.worker.result import WorkerFailure

    path = tmp_path / "job.json"
    path.write_bytes(data)
    (tmp_path / "work").mkdir()
    with pytest.raises(WorkerFailure) as caught:
        LocalWorker(WorkerConfig(work_root=str(tmp_path / "work"))).run(str(path), timeout=5)
    assert str(caught.value).startswith("Invalid job: ")
    assert type(caught.value.__context__) in (type(None), JobFileError) or caught.value.__suppress_context__
