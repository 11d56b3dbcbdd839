import base64
import io
import json
import zipfile
from unittest import mock

import pytest

import norvale.external.korro as korro
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.external_program import ExternalProgram
from norvale.external.korro import (
    CopyNodalLoadAction,
    EnergyOptimizationAction,
    KORROAction,
    KORROAnalysis,
    LoadingType,
    WriteResultsAction,
)

NO_RESULTS = "Zip-file with results not available. Call .execute() before calling .get_model() or .get_result()"


def decode(entry):
    return base64.b64decode(entry["body"]).decode()


def zip_bytes(members):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as zf:
        for name, data in members.items():
            zf.writestr(name, data)
    return buf.getvalue()


def with_result(content):
    return mock.patch.object(KORROAnalysis, "_get_result_content", return_value=content)


def archive_result(members):
    return with_result({"model": {"filename": "r.zip", "type": "zip",
                                  "body": base64.b64encode(zip_bytes(members)).decode()}})


def test_module_surface():
    assert korro.__file__.endswith(".so")
    assert korro.__all__ == ["CopyNodalLoadAction", "EnergyOptimizationAction", "LoadingType", "KORROAction",
                             "KORROAnalysis", "WriteResultsAction"]
    import enum
    assert type(LoadingType) is enum.EnumType and not issubclass(LoadingType, int)
    assert [(m.name, m.value) for m in LoadingType] == [("LOAD_CASE", 1), ("LOAD_COMBINATION", 2)]
    assert KORROAction.__doc__ == "Abstract base class of all KORRO action objects."
    for cls in (KORROAction, EnergyOptimizationAction, KORROAnalysis):
        assert cls.__module__ == "norvale.external.korro"
    with pytest.raises(TypeError):
        KORROAction(1)


def test_base_config_raises_not_implemented():
    class Partial(KORROAction):
        @property
        def _config(self):
            return super()._config

    with pytest.raises(NotImplementedError) as info:
        Partial(9)._config
    assert info.value.args == ()


@pytest.mark.parametrize("action, expected", [
    (WriteResultsAction(), {"FilenamePrefix": "summary", "LoadingType": 1}),
    (WriteResultsAction([]), {"FilenamePrefix": "summary", "LoadingType": 1}),
    (WriteResultsAction([1, 2], LoadingType.LOAD_COMBINATION),
     {"FilenamePrefix": "summary", "LoadingType": 2, "Loads": [1, 2]}),
    (EnergyOptimizationAction(None, goal=10000, accuracy=0.1),
     {"goal": 10000, "accuracy": 0.1, "loads": None, "loadingType": 1}),
    (EnergyOptimizationAction([], goal=1, accuracy=2), {"goal": 1, "accuracy": 2, "loads": [], "loadingType": 1}),
    (CopyNodalLoadAction([(1, 7), (2, 8)], factor=1.5),
     {"Factor": 1.5, "SlsLoads": [1, 2], "UlsLoads": [7, 8], "loadingType": 1}),
    (CopyNodalLoadAction([], LoadingType.LOAD_COMBINATION),
     {"Factor": 1.0, "SlsLoads": [], "UlsLoads": [], "loadingType": 2}),
])
def test_configs(action, expected):
    config = action._config
    assert config == expected
    assert list(config) == list(expected)  # the key order is wire format


def test_ids_attributes_and_their_order():
    e = EnergyOptimizationAction([1], goal=5, accuracy=0.5)
    c = CopyNodalLoadAction([(1, 2)], factor=2.0)
    w = WriteResultsAction([3])
    assert (e._id, c._id, w._id) == (0, 5, 4)
    assert list(vars(e)) == ["_id", "load_cases", "loading_type", "goal", "accuracy"]
    assert list(vars(c)) == ["_id", "factor", "copy_from_to", "loading_type"]
    assert list(vars(w)) == ["_id", "load_cases", "loading_type"]
    e.goal = 7
    assert e._config["goal"] == 7


def test_keyword_only_and_required_parameters():
    with pytest.raises(TypeError):
        EnergyOptimizationAction([1], LoadingType.LOAD_CASE, 1, 2)
    with pytest.raises(TypeError):
        EnergyOptimizationAction([1], goal=1)
    with pytest.raises(TypeError):
        CopyNodalLoadAction([(1, 2)], LoadingType.LOAD_CASE, 1.5)


@pytest.mark.parametrize("pairs, error, text", [
    ([(1,)], ValueError, "not enough values to unpack (expected 2, got 1)"),
    ([(1, 2, 3)], ValueError, "too many values to unpack (expected 2)"),
    ([5], TypeError, "cannot unpack non-iterable int object"),
])
def test_copy_pairs_unpack_like_python(pairs, error, text):
    with pytest.raises(error) as info:
        CopyNodalLoadAction(pairs)._config
    assert str(info.value) == text


def test_loading_type_without_value_fails_on_config_only():
    action = WriteResultsAction([1], "bad")
    with pytest.raises(AttributeError):
        action._config


def test_constructor_calls_base_with_korro_and_1():
    with mock.patch.object(ExternalProgram, "__init__", return_value=None) as base:
        job = KORROAnalysis(io.BytesIO(b""), [])
    base.assert_called_once_with("korro", 1)
    assert list(vars(job)) == ["_kox_file", "_actions"]


@pytest.mark.parametrize("make", [io.BytesIO, File.from_data])
def test_job_content(make):
    actions = [EnergyOptimizationAction([1], goal=1, accuracy=0.5), CopyNodalLoadAction([(1, 7)]),
               WriteResultsAction(), WriteResultsAction(["é"])]
    job = KORROAnalysis(make(b"model bytes"), actions)
    with mock.patch("norvale.external.korro._JobContent") as record:
        job._generate_job_content()
    kwargs = record.call_args.kwargs
    assert record.call_args.args == ()
    assert list(kwargs) == ["model", "korro_configs", "actions"]
    model = kwargs["model"]
    assert list(model) == ["filename", "type", "body"]
    assert (model["filename"], model["type"], base64.b64decode(model["body"])) == ("input.kox", "kox", b"model bytes")
    configs = kwargs["korro_configs"]
    assert [c["filename"] for c in configs] == ["config1.json", "config2.json", "config3.json", "config4.json"]
    assert {c["type"] for c in configs} == {"json"}
    assert decode(configs[0]) == '{"goal": 1, "accuracy": 0.5, "loads": [1], "loadingType": 1}'
    assert decode(configs[3]) == '{"FilenamePrefix": "summary", "LoadingType": 1, "Loads": ["\\u00e9"]}'
    assert kwargs["actions"]["filename"] == "actions.json"
    assert decode(kwargs["actions"]) == "[0, 5, 4, 4]"


def test_empty_action_list():
    content = KORROAnalysis(io.BytesIO(b""), [])._generate_job_content()
    assert content["korro_configs"] == []
    assert decode(content["actions"]) == "[]"


def test_error_table():
    job = KORROAnalysis(io.BytesIO(b""), [])
    for message in ("Error creating KORRO input", "Error creating signature file", "Error hashing file",
                    "Error signing hash"):
        with pytest.raises(ExecutionError) as info:
            job._handle_execution_error(message)
        assert info.value.args == (
            "Error creating KORRO input file, please check worker installation and permissions",)
    with pytest.raises(ExecutionError, match="^Error running KORRO analysis, please check all inputs, license and server$"):
        job._handle_execution_error("Error running KORRO analysis")
    for other in ("error running KORRO analysis", "Error running KORRO analysis ", ""):
        assert job._handle_execution_error(other) is None


@pytest.mark.parametrize("content", [{}, {"model": {}}, {"model": {"body": None}}, {"model": {"body": ""}}])
def test_missing_results(content):
    job = KORROAnalysis(io.BytesIO(b""), [])
    with with_result(content):
        for call in (job.get_model, lambda: job.get_result(1)):
            with pytest.raises(ExecutionError) as info:
                call()
            assert str(info.value) == NO_RESULTS
            assert info.value.__cause__ is None and info.value.__suppress_context__


def test_getters_read_the_archive():
    job = KORROAnalysis(io.BytesIO(b""), [])
    with archive_result({"results.kox": b"MODEL", "summary_2.json": b"{}"}):
        model = job.get_model()
        assert isinstance(model, io.BytesIO) and model.tell() == 0 and model.getvalue() == b"MODEL"
        assert job.get_model(as_file=True).getvalue_binary() == b"MODEL"
        assert job.get_result(2).getvalue() == b"{}"
        assert isinstance(job.get_result(2, as_file=True), File)
        with pytest.raises(ValueError) as info:
            job.get_result(3)
    assert str(info.value) == ("Could not find results for load case/combination 3. Perform a "
                               "'WriteResultsAction' on the desired load cases to make it available here.")
    assert info.value.__suppress_context__ and info.value.__cause__ is None
    with archive_result({"summary_1.json": b"{}"}):
        with pytest.raises(ExecutionError, match="^Could not find model within the result file$") as info:
            job.get_model()
    # raised while the KeyError is handled: it is the context, shown as suppressed
    assert isinstance(info.value.__context__, KeyError) and info.value.__suppress_context__
    with pytest.raises(TypeError):
        job.get_model(True)


def test_archive_and_member_are_context_managers_closed_on_every_path():
    job = KORROAnalysis(io.BytesIO(b""), [])
    with mock.patch.object(KORROAnalysis, "_get_korro_result_content", return_value="content"), \
            mock.patch("norvale.external.korro.zipfile.ZipFile") as zip_file:
        archive = zip_file.return_value.__enter__.return_value
        member = archive.open.return_value.__enter__.return_value
        member.read.return_value = b"DATA"
        assert job._get_file_from_zip("results.kox", as_file=False).getvalue() == b"DATA"
        zip_file.assert_called_once_with("content")
        archive.open.assert_called_once_with("results.kox")
        archive.open.return_value.__exit__.assert_called_once_with(None, None, None)
        zip_file.return_value.__exit__.assert_called_once_with(None, None, None)

        member.read.side_effect = OSError("disk")
        with pytest.raises(OSError, match="disk"):
            job._get_file_from_zip("results.kox", as_file=False)
        exc_type, exc, _ = zip_file.return_value.__exit__.call_args.args
        assert exc_type is OSError and str(exc) == "disk"
        assert archive.open.return_value.__exit__.call_count == 2


def test_result_member_name_is_the_text_of_the_load_case():
    job = KORROAnalysis(io.BytesIO(b""), [])
    with mock.patch.object(KORROAnalysis, "_get_file_from_zip", side_effect=KeyError) as get:
        for load_case in ("a\x00b", "\ud800"):
            with pytest.raises(ValueError, match=f"combination {load_case}\\. Perform"):
                job.get_result(load_case)
            get.assert_called_with(f"summary_{load_case}.json", as_file=False)


def test_corrupt_archive_is_reported_unchanged():
    job = KORROAnalysis(io.BytesIO(b""), [])
    with with_result({"model": {"body": base64.b64encode(b"not a zip").decode()}}):
        with pytest.raises(zipfile.BadZipFile):
            job.get_model()


def test_get_file_from_zip_uses_the_patched_body_helper():
    job = KORROAnalysis(io.BytesIO(b""), [])
    stream = io.BytesIO(zip_bytes({"results.kox": b"M"}))
    with with_result({"model": {"body": "anything"}}), \
            mock.patch("norvale.external.korro._get_file_body", return_value=stream) as body:
        assert job._get_file_from_zip("results.kox", as_file=False).getvalue() == b"M"
    body.assert_called_once_with("anything")
    with pytest.raises(TypeError):
        job._get_file_from_zip("results.kox")  # as_file is required


def test_whole_road_with_the_standin(standin_worker):
    actions = [EnergyOptimizationAction([1, 2], goal=10000, accuracy=0.1),
               CopyNodalLoadAction([(1, 7)], factor=1.5), WriteResultsAction([1, 7])]
    job = KORROAnalysis(kox_file=io.BytesIO(b"LOADCASE 1\nLOADCASE 2\n"), actions=actions)
    job.execute(timeout=60)
    assert job.get_model().getvalue().startswith(b"LOADCASE 1")
    assert json.loads(job.get_result(7).getvalue())["load_case"] == 7
    with pytest.raises(ValueError):
        job.get_result(2)


def test_program_failure_is_translated(standin_worker):
    job = KORROAnalysis(io.BytesIO(b"FAIL"), [WriteResultsAction()])
    with pytest.raises(ExecutionError, match="^Error running KORRO analysis, please check"):
        job.execute(timeout=60)
