"""Small jobs: 200 one-line script analyses on the embedded worker against running the same script
with plain `subprocess.run` (the floor), in one run.

Each job is a `PYLONAnalysis` whose script writes one output file; the worker runs it with this
interpreter, as it runs every script job, and the job's output is read back. The floor runs the
same script file with the same interpreter, in a fresh directory, 200 times. Both are timed in
alternating blocks of 20, so a busy machine weighs on both alike.

Target: the embedded worker within 1.3 times the floor.

Usage: bench_script_jobs.py [jobs]   (default 200)
"""

import os
import subprocess
import sys
import tempfile
import time

from norvale import worker
from norvale.core import File
from norvale.external.pylon import PYLONAnalysis

SCRIPT = b"open('out.txt', 'w').write('done')\n"
BLOCK = 20


def main() -> int:
    jobs = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    with tempfile.TemporaryDirectory(prefix="bench-script-jobs-") as tmp:
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        worker.set_worker(worker.LocalWorker(worker.WorkerConfig(work_root=work)))
        script_file = os.path.join(tmp, "script.py")
        with open(script_file, "wb") as f:
            f.write(SCRIPT)
        script = File.from_data(SCRIPT)

        def embedded() -> None:
            job = PYLONAnalysis(script=script, output_filenames=["out.txt"])
            job.execute(timeout=60)
            assert job.get_output_file("out.txt").getvalue() == "done"

        def floor() -> None:
            run_dir = tempfile.mkdtemp(dir=tmp)
            subprocess.run([sys.executable, script_file], cwd=run_dir, check=True)
            with open(os.path.join(run_dir, "out.txt")) as f:
                assert f.read() == "done"

        embedded(), floor()  # warm both
        spent = {"embedded": 0.0, "floor": 0.0}
        for done in range(0, jobs, BLOCK):
            for name, one in (("floor", floor), ("embedded", embedded)):
                start = time.perf_counter()
                for _ in range(min(BLOCK, jobs - done)):
                    one()
                spent[name] += time.perf_counter() - start
    ratio = spent["embedded"] / spent["floor"]
    print(f"{jobs} one-line script jobs")
    print(f"  floor: subprocess.run of the script   {spent['floor']:6.2f} s   {spent['floor'] / jobs * 1e3:6.1f} ms a job")
    print(f"  embedded worker (PYLONAnalysis)       {spent['embedded']:6.2f} s   {spent['embedded'] / jobs * 1e3:6.1f} ms a job"
          f"   {ratio:5.2f}x the floor")
    print(f"  target (<= 1.3x the floor): {'met' if ratio <= 1.3 else 'NOT MET'}")
    return 0 if ratio <= 1.3 else 1


if __name__ == "__main__":
    sys.exit(main())
