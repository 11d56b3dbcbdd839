"""Peak memory of `execute` for a large `File.from_path` input, per integration.

Each case runs in a fresh interpreter: it writes the input file, notes its resident memory, runs
one job with a trivial program (the figure is the kit's and the worker's own memory, not a
program's), and reports (peak resident memory - memory before) / input size. The baseline, run
the same way beside the cases, is the straightforward job content: the file's bytes read whole and
Base64-encoded (`base64.b64encode(data).decode()`), which the Moraine and Korro job contents did.

Targets, checked (the exit status is 1 when one is missed): Moraine and Korro at most 1.5 (the job
content holds the Base64 text itself, 4/3 of the input); the script analysis (Pylon) and Tarsis
stream their inputs: below 64 MiB for any size.

Usage: bench_job_memory.py [MiB]   (input size, default 256)
"""

import json
import os
import subprocess
import sys
import tempfile

CASE = r'''
import base64, json, os, resource, sys
case, path, work = sys.argv[1], sys.argv[2], sys.argv[3]

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

def peak():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024

import io
from norvale import worker
from norvale.core import File
from norvale.external.moraine import MoraineAnalysis
from norvale.external.korro import KORROAnalysis, WriteResultsAction
from norvale.external.pylon import PYLONAnalysis
from norvale.external.tarsis.tarsis import TarsisAnalysis

sh = ["/bin/sh", "-c"]
worker.set_worker(worker.LocalWorker(worker.WorkerConfig(work_root=work, programs={
    "moraine": sh + ['echo done > "${1%.sti}.sto"', "moraine"],
    "korro": sh + ["echo done > results.kox", "korro"],
    "tarsis": sh + ["echo '<output/>' > tarsis_output.xml", "tarsis"],
})))
script = File.from_data(b"open('out.txt', 'w').write('done')\n")
xml = io.BytesIO(b'<project xmlns="urn:norvale:tarsis"><def uri="x.def"/></project>')
before = rss()
if case == "baseline":
    with open(path, "rb") as f:
        text = base64.b64encode(f.read()).decode()
    del text
else:
    big = File.from_path(path)
    job = {
        "moraine": lambda: MoraineAnalysis(big),
        "korro": lambda: KORROAnalysis(big, [WriteResultsAction()]),
        "pylon": lambda: PYLONAnalysis(script=script, files=[("input.bin", big)], output_filenames=["out.txt"]),
        "tarsis": lambda: TarsisAnalysis(xml, io.BytesIO(b"def"), big),
    }[case]()
    job.execute(timeout=600)
print(json.dumps({"extra": peak() - before}))
'''


def run_case(case: str, path: str, work: str) -> int:
    out = subprocess.run([sys.executable, "-c", CASE, case, path, work], check=True, capture_output=True,
                         text=True).stdout
    return json.loads(out.strip().splitlines()[-1])["extra"]


def main() -> int:
    mib = int(sys.argv[1]) if len(sys.argv) > 1 else 256
    size = mib << 20
    with tempfile.TemporaryDirectory(prefix="bench-memory-") as tmp:
        path = os.path.join(tmp, "input.bin")
        with open(path, "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(mib):
                f.write(block)
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        baseline = run_case("baseline", path, work)
        print(f"input {mib} MiB; peak memory beyond the interpreter, as a multiple of the input size")
        print(f"  {'baseline (bytes read whole + Base64)':40s} {baseline / size:5.2f}x  ({baseline >> 20} MiB)")
        missed = []
        for case in ("moraine", "korro", "pylon", "tarsis"):
            extra = run_case(case, path, work)
            ok = extra <= 1.5 * size if case in ("moraine", "korro") else extra < 64 << 20
            if not ok:
                missed.append(case)
            print(f"  {case:40s} {extra / size:5.2f}x  ({extra >> 20} MiB)   vs baseline {extra / baseline:5.2f}"
                  f"   {'ok' if ok else 'TARGET MISSED'}")
    print("targets (Moraine, Korro <= 1.5x the input; Pylon, Tarsis < 64 MiB):",
          "met" if not missed else "missed by " + ", ".join(missed))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
