"""Worker configuration: wrong names and kinds are refused clearly; a file is applied as documented."""

import io
import json
import re
import sys

import pytest

from norvale import worker
from norvale.external.moraine import MoraineAnalysis
from norvale.external.tarsis import object as obj
from norvale.worker import LocalWorker, WorkerConfig, standins


@pytest.mark.parametrize("options, error, match", [
    ({"programs": {"morraine": ["x"]}}, ValueError,
     "unknown integration 'morraine' in programs: the known integrations are korro, moraine, pylon, python, tarsis"),
    ({"programs": {"moraine": "/opt/moraine/run --batch"}}, TypeError,
     r"the program command for 'moraine' must be a list of texts \(program, then arguments\), not one text: "
     r"write \['/opt/moraine/run --batch'\] for a program without arguments, or shlex.split\(...\) a command line"),
    ({"programs": {"moraine": []}}, ValueError, "must be a non-empty list of non-empty texts"),
    ({"programs": {"moraine": ["run", 3]}}, ValueError, "must be a non-empty list of non-empty texts"),
    ({"local_scripts_only": "no"}, TypeError, "local_scripts_only must be true or false, not 'no'"),
    ({"scripts": {"report": 42}}, TypeError, "the script of 'report' must be a path, not int"),
    ({"work_root": 5}, TypeError, "work_root must be a directory path, not int"),
])
def test_update_refuses_wrong_names_and_kinds(options, error, match):
    config = WorkerConfig(programs={"korro": ["korro"]})
    with pytest.raises(error, match=match):
        config.update(**options)
    assert config.programs == {"korro": ["korro"]}  # nothing half-applied
    with pytest.raises(error, match=match):
        WorkerConfig(**options)


def test_own_script_integration_can_be_declared():
    with pytest.raises(ValueError, match="unknown integration 'mine'"):
        WorkerConfig(programs={"mine": [sys.executable]})
    worker.register_script_integration("mine")
    assert WorkerConfig(programs={"mine": [sys.executable]}).interpreter("mine") == [sys.executable]


@pytest.mark.parametrize("document, match", [
    ({"local_scripts_only": "false"}, "local_scripts_only must be true or false, not 'false'"),
    ({"local_scripts_only": 1}, "local_scripts_only must be true or false, not 1"),
    ({"programs": {"tarsis": "tarsis.exe /batch"}}, r"the program command for 'tarsis' must be a list of texts "
                                                    r"\(program, then arguments\), not \"tarsis.exe /batch\""),
    ({"programs": {"tarsys": ["x"]}}, "unknown integration 'tarsys'"),
    ({"scripts": ["a.py"]}, "scripts must map script keys to paths"),
    ({"program": {}}, "unknown worker configuration members: program"),
])
def test_file_refuses_wrong_members(tmp_path, document, match):
    path = tmp_path / "worker.json"
    path.write_text(json.dumps(document))
    with pytest.raises(ValueError, match=match):
        WorkerConfig.from_file(path)


def test_file_is_applied_with_configure_or_a_local_worker(local_worker, tmp_path):
    path = tmp_path / "worker.json"
    path.write_text(json.dumps({"programs": {"moraine": standins.command("moraine")}, "scripts": {"r": "r.py"},
                                "local_scripts_only": True, "work_root": str(tmp_path)}))
    config = WorkerConfig.from_file(path)
    assert config.scripts == {"r": str(tmp_path / "r.py")} and config.local_scripts_only is True

    assert worker.configure(config=config) is config and local_worker.config is config
    job = MoraineAnalysis(io.BytesIO(b"slope"))
    job.execute(timeout=60)
    assert job.get_output_file(".sto") is not None

    own = LocalWorker(WorkerConfig.from_file(path))
    assert own.config.programs == config.programs
    with pytest.raises(TypeError, match="config must be a WorkerConfig, not str"):
        worker.configure(config=str(path))
    with pytest.raises(TypeError, match="config must be a WorkerConfig, not dict"):
        LocalWorker({"programs": {}})


def _doc_example(name):
    text = (__import__("pathlib").Path(__file__).parents[2] / "docs" / "worker.md").read_text()
    match = re.search(rf"<!-- example: {name} -->\n```python\n(.*?)```", text, re.S)
    assert match, f"docs/worker.md has no example {name!r}"
    return match.group(1)


def test_custom_worker_example_of_the_docs_runs(local_worker, tmp_path, capsys):
    namespace = {"__name__": "example"}
    exec(compile(_doc_example("custom-worker"), "docs/worker.md", "exec"), namespace)
    out = capsys.readouterr().out
    assert "moraine job" in out and "EchoWorker" in out


# -- Tarsis model object texts -----------------------------------------------------------------------

@pytest.mark.parametrize("make, field", [
    (lambda t: obj.Node(1, t, 0, 0, 0), "Node name"),
    (lambda t: obj.Material(t), "material name"),
    (lambda t: obj.Layer(1, "layer", comment=t), "comment"),
    (lambda t: obj.ProjectData(author=t), "author"),
    (lambda t: obj.LoadGroup(1, t, obj.LoadGroup.LoadOption.PERMANENT), "LoadGroup name"),
])
@pytest.mark.parametrize("text, code", [("a\x00b", "0000"), ("bell\x07", "0007"), ("\ufffe", "FFFE"),
                                        ("half \ud800", "D800")])
def test_texts_xml_cannot_carry_are_refused_naming_the_field(make, field, text, code):
    with pytest.raises(ValueError, match=rf"^{field} holds a character that XML cannot carry \(U\+{code} at position"):
        make(text)


@pytest.mark.parametrize("text", ["tab\tnew\nline\r", "ünïcödé ∑ 😀", ""])
def test_texts_xml_can_carry_are_kept(text):
    assert obj.Layer(1, "layer", comment=text or None).comment == text
    assert obj.Node(1, text, 0, 0, 0).name == text
