"""Time and memory of a local `execute` of a Tarsis job with a large project file.

The job (a small input XML and definition file, a project file of 300 MiB given as
`File.from_path`, result type MODEL so the project comes back) runs on the embedded worker with a
trivial program that writes the output XML and leaves the project as it is; `get_updated_esa_model`
is asked for as a file. The baseline, timed in the same run, is the least a worker must do with the
project: copy it to the job and copy it back (two `shutil.copyfile`). Each case runs in a fresh
interpreter; memory is the peak resident memory beyond the interpreter's before the job.

Targets: at most 1.0 s, at most 5x the baseline, memory beyond the interpreter below 64 MiB.

Usage: bench_tarsis_execute.py [MiB] [rounds]   (project size, default 300; best of 3)
"""

import json
import os
import subprocess
import sys
import tempfile

CASE = r'''
import io, json, os, resource, shutil, sys, time
case, path, work = sys.argv[1], sys.argv[2], sys.argv[3]

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

from norvale import worker
from norvale.core import File
from norvale.external.tarsis.tarsis import TarsisAnalysis

before = rss()
if case == "copy":
    start = time.perf_counter()
    shutil.copyfile(path, os.path.join(work, "to-job"))
    shutil.copyfile(os.path.join(work, "to-job"), os.path.join(work, "back"))
    elapsed = time.perf_counter() - start
    os.remove(os.path.join(work, "to-job")); os.remove(os.path.join(work, "back"))
else:
    worker.set_worker(worker.LocalWorker(worker.WorkerConfig(work_root=work, programs={
        "tarsis": ["/bin/sh", "-c", "echo '<output/>' > tarsis_output.xml", "tarsis"]})))
    xml = io.BytesIO(b'<project xmlns="urn:norvale:tarsis"><def uri="x.def"/></project>')
    job = TarsisAnalysis(xml, io.BytesIO(b"def"), File.from_path(path))
    start = time.perf_counter()
    job.execute(timeout=600)
    model = job.get_updated_esa_model(as_file=True)
    elapsed = time.perf_counter() - start
    assert model.size == os.path.getsize(path)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({"seconds": elapsed, "extra": peak - before}))
'''


def run_case(case: str, path: str, work: str) -> dict:
    out = subprocess.run([sys.executable, "-c", CASE, case, path, work], check=True, capture_output=True,
                         text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def main() -> int:
    mib = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory(prefix="bench-tarsis-execute-") as tmp:
        path = os.path.join(tmp, "model.esa")
        with open(path, "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(mib):
                f.write(block)
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        copy = min(run_case("copy", path, work)["seconds"] for _ in range(rounds))
        runs = [run_case("execute", path, work) for _ in range(rounds)]
        best = min(r["seconds"] for r in runs)
        extra = max(r["extra"] for r in runs)
    ok = best <= 1.0 and best <= 5 * copy and extra < 64 << 20
    print(f"project {mib} MiB, best of {rounds}")
    print(f"  baseline: copy to the job and back   {copy:6.3f} s")
    print(f"  execute + updated model as a file    {best:6.3f} s   {best / copy:5.2f}x the baseline"
          f"   memory beyond the interpreter {extra >> 20} MiB")
    print(f"  targets (<= 1.0 s, <= 5x, < 64 MiB): {'met' if ok else 'NOT MET'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
