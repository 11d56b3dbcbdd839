"""First use of the native modules from several threads at once, in a fresh interpreter each time.

Every path that imports a module or fills a cache on first use is started by several threads
together (a barrier, a tiny switch interval so the GIL changes hands often). A hang is a failure
through the subprocess time-out, a crash through the exit status.
"""

import subprocess
import sys
import textwrap

import pytest

THREADS = 4
ROUNDS = 3

PRELUDE = textwrap.dedent("""
    import io, os, sys, tempfile, threading
    sys.setswitchinterval(1e-6)
""")

# Each snippet defines work(), run by every thread after the barrier; it imports what it needs
# inside work(), so the module's own first import happens concurrently as well.
PATHS = {
    "host parser fallback (DOCTYPE)": """
        def work():
            from norvale.external.tarsis.tarsis import OutputFileParser
            from norvale.external.tarsis import TARSIS_NAMESPACE as ns
            doc = (f'<!DOCTYPE p [<!ENTITY e "x">]><p xmlns="{ns}"><meta/><table name="T"><obj>'
                   '<b h="K"><h><h0 t="A"/></h><row><p0 v="&e;"/></row></b></obj></table></p>').encode()
            assert OutputFileParser.get_result(io.BytesIO(doc), "T") == {"K": {"A": ["x"]}}
    """,
    "definition lookup": """
        def work():
            from norvale.external.tarsis.tarsis import TarsisAnalysis
            from norvale.external.tarsis import TARSIS_NAMESPACE as ns
            doc = f'<p xmlns="{ns}"><def uri="d.xml"/></p>'.encode()
            assert TarsisAnalysis.get_xml_def_name(io.BytesIO(doc)) == "d.xml"
            doc = f'<!DOCTYPE p><p xmlns="{ns}"><def uri="e.xml"/></p>'.encode()
            assert TarsisAnalysis.get_xml_def_name(io.BytesIO(doc)) == "e.xml"
    """,
    "streams from open() and pipes": """
        def work():
            from norvale.external.tarsis.tarsis import OutputFileParser
            from norvale.external.tarsis import TARSIS_NAMESPACE as ns
            doc = f'<p xmlns="{ns}"><meta/><table name="T"><obj><b h="K"><h><h0 t="A"/></h></b></obj></table></p>'
            r, w = os.pipe()
            os.write(w, doc.encode())
            os.close(w)
            with open(r, "rb") as pipe:
                assert OutputFileParser.get_result(pipe, "T") == {"K": {"A": []}}
            with tempfile.TemporaryFile() as f:
                f.write(doc.encode())
                f.seek(0)
                assert OutputFileParser.get_result(f, "T") == {"K": {"A": []}}
    """,
    "gzip": """
        def work():
            from norvale._native import gzip_backend, gzip_compress
            import gzip
            assert gzip.decompress(gzip_compress(b"abc" * 100_000)) == b"abc" * 100_000
            assert gzip_backend() in ("zlib", "zlib-ng")
    """,
    "generate_xml_input": """
        def work():
            from norvale.external.tarsis.tarsis import Model
            model = Model()
            model.create_node("N1", 0.0, 0.0, 0.0)
            input_file, def_file = model.generate_xml_input()
            assert input_file.getvalue() and def_file.getvalue()
    """,
    "first use of each module": """
        def work():
            from norvale.external import korro, moraine, pylon
            from norvale.external.tarsis import tarsis
            from norvale.errors import ExecutionError
            analysis = korro.KORROAnalysis.__new__(korro.KORROAnalysis)
            try:
                analysis._handle_execution_error("Error signing hash")
            except ExecutionError:
                pass
            else:
                raise AssertionError("no error")
            assert moraine.__all__ and pylon.__all__ and tarsis.Model()._serialize()
    """,
}


def script(body: str) -> str:
    return PRELUDE + textwrap.dedent(body) + textwrap.dedent(f"""
        barrier = threading.Barrier({THREADS})
        errors = []
        def run():
            barrier.wait()
            try:
                work()
            except BaseException as exc:
                errors.append(repr(exc))
        threads = [threading.Thread(target=run) for _ in range({THREADS})]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print("errors:", errors)
        sys.exit(1 if errors else 0)
    """)


@pytest.mark.parametrize("body", PATHS.values(), ids=PATHS.keys())
def test_first_use_from_several_threads(body):
    source = script(body)
    for _ in range(ROUNDS):
        try:
            run = subprocess.run([sys.executable, "-c", source], capture_output=True, text=True, timeout=30)
        except subprocess.TimeoutExpired:
            pytest.fail("threads hung on first use (the process did not finish in 30 s)")
        assert run.returncode == 0, run.stdout[-2000:] + run.stderr[-4000:]
