"""The template service against the pure-Python service it replaced, kept as the oracle (bench/
tarsis_template_baseline.py): the same files after decompression, or the same error, for
generated models, hand-written JSON forms and broken requests."""

import base64
import gzip
import json
import math
import pathlib
import random
import struct
import sys

import pytest

from norvale.errors import InternalError
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.services import _template, tarsis_template
from norvale.services.tarsis_template import DEF_FILE_NAME, MEMBERS, SETUP_MEMBERS

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench"))
import tarsis_template_baseline as baseline  # noqa: E402

TEXTS = ["", "N1", "Nœud <2> & \"q\"", "tab\there", "line\nfeed\r\n", "€", "😀 astral", "back\\slash/", "\x7f",
         "'apos'", "]]>", "a.b"]


def random_float(rng):
    choice = rng.randrange(6)
    if choice == 0:
        return struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]  # any bits: tiny, huge, nan
    if choice == 1:
        return rng.choice([0.0, -0.0, 1e16, 1e15, 1e-5, 1e-4, 5e-324, 1.7976931348623157e308, math.inf, -math.inf,
                           math.nan, 0.1, 123456789.123])
    return rng.uniform(-1e4, 1e4) * 10.0 ** rng.randrange(-8, 20)


def random_leaf(rng, depth=0):
    choice = rng.randrange(9)
    if choice == 0:
        return None
    if choice == 1:
        return rng.random() < 0.5
    if choice == 2:
        return rng.choice([0, -1, 7, 2**63, -(10**40), rng.randrange(-10**6, 10**6)])
    if choice in (3, 4):
        return random_float(rng)
    if choice in (5, 6):
        return rng.choice(TEXTS)
    if choice == 7 and depth < 3:
        return [random_leaf(rng, depth + 1) for _ in range(rng.randrange(3))]
    if choice == 8 and depth < 3:
        return {rng.choice(TEXTS): random_leaf(rng, depth + 1) for _ in range(rng.randrange(3))}
    return {}


def random_object(rng, keys, depth=0):
    obj = {}
    for key in rng.sample(keys, rng.randrange(len(keys) + 1)):
        obj[key] = random_object(rng, keys, depth + 1) if depth < 2 and rng.random() < 0.15 else random_leaf(rng)
    return obj


def random_document(seed):
    rng = random.Random(seed)
    keys = ["id", "name", "x", "é", "a&b", "<k>", "q\"", "t\tn", "", "k.k", "😀"]
    doc = {}
    for member in MEMBERS:
        objects = [random_object(rng, keys) for _ in range(rng.choice([0, 0, 1, 3, 12]))]
        doc[member] = (objects[0] if objects else {}) if member in SETUP_MEMBERS else objects
    return doc


def request(text: bytes) -> dict:
    return {"input": base64.b64encode(gzip.compress(text)).decode("ascii")}


def outcome(fill, payload):
    try:
        reply = fill(payload)
    except InternalError as exc:
        return "error", str(exc)
    return tuple(gzip.decompress(base64.b64decode(reply[key])) for key in ("input_file", "def_file"))


def assert_same(payload):
    ours = outcome(tarsis_template.fill_template, payload)
    assert ours == outcome(baseline.fill_template, payload)
    return ours


def native(payload, window=1 << 20):
    return _template.fill(payload["input"], MEMBERS, SETUP_MEMBERS, TARSIS_NAMESPACE, DEF_FILE_NAME, window=window)


def native_outcome(payload, window):
    files = native(payload, window)
    if isinstance(files, str):
        return "error", files
    return files and tuple(gzip.decompress(base64.b64decode(f)) for f in files)


@pytest.mark.parametrize("window", [16, 97, 4096])
@pytest.mark.parametrize("seed", range(0, 40, 3))
def test_the_text_read_window_by_window_gives_the_same_files(seed, window):
    # small windows cut the text at every kind of place: rows, names, escapes, numbers
    payload = request(json.dumps(random_document(seed), ensure_ascii=seed % 2 == 0).encode("utf-8"))
    assert native_outcome(payload, window) == outcome(baseline.fill_template, payload)


@pytest.mark.parametrize("seed", range(40))
def test_generated_models_give_the_same_files(seed):
    # json.dumps as the kit calls it, and with text kept as it is (no \u escapes)
    payload = request(json.dumps(random_document(seed), ensure_ascii=seed % 2 == 0).encode("utf-8"))
    assert native(payload) is not None  # the native reader answered it
    assert_same(payload)


def document_text(**raw_members) -> bytes:
    """JSON text of a document whose given members are written as the raw text given."""
    parts = []
    for member in MEMBERS:
        default = "{}" if member in SETUP_MEMBERS else "[]"
        parts.append(f'"{member}": {raw_members.get(member, default)}')
    return ("{" + ", ".join(parts) + "}").encode("utf-8")


@pytest.mark.parametrize("nodes, taken", [
    # numbers as JSON writes them, and as others may
    ('[{"a": 1E5, "b": -0, "c": -0.0, "d": 0.1e-3, "e": 1e+2, "f": 12345678901234567890123}]', True),
    ('[{"a": NaN, "b": Infinity, "c": -Infinity, "d": [NaN, -Infinity, 1e-7, -0]}]', True),
    ('[{"a": 1e400}]', False),  # beyond a double: read by the host, Infinity
    ('[{"a": 1e-400, "b": 2.4e-320}]', None),
    # strings: escapes, surrogate pairs, characters XML refuses
    (r'[{"a": "\/\u00e9\ud83d\ude00\"\\\t\n\r", "\u0041": ["\n\"", {"k\t": "\\"}]}]', True),
    (r'[{"a": "\u0001"}]', True),
    (r'[{"a": ["\u0001\b\f"]}]', True),  # inside a list json.dumps escapes them: no error
    (r'[{"a": [{"\u001f": "\b"}], "b": "\f"}]', True),
    (r'[{"a": "\ud800"}]', True),
    (r'[{"a": "\udc00\ud800"}]', True),
    (r'[{"a": "\ud800\u0041"}, {"b": ["\udbff"]}]', True),
    ('[{"a": "\uffff"}]', True),
    (r'[{"\u0002": 1}]', True),
    (r'[{"a": 1}, {"b": "\u0001"}, {"c": {"\u0002": 1}}]', True),  # names are checked before rows
    # whitespace JSON allows, objects as rows and cells
    ('  [ {\t"a" :\n{ "b" : { } , "c":{"d":null}} } ,{}]\r\n', True),
    # forms the streaming reader leaves to the host's decoders
    ('[{"a": 1, "a": 2}]', False),
    (r'[{"a": {"x": 1}, "a": {"y": "\ud800"}}]', False),
    ('[{"a": [{"k": 1, "k": 2}]}]', False),
    ('[{"a": ' + "[" * 300 + "]" * 300 + "}]", True),
    ('[{"a": 01}]', False),
    ('[{"a": .5}]', False),
    ('[{"a": 1.}]', False),
    ('[{"a": +1}]', False),
    ('[{"a": "raw\ttab"}]', False),
    ('[{"a": ' + "9" * 4400 + "}]", False),
    ('[{"a": ' + "9" * 4300 + ', "b": -' + "9" * 4300 + "}]", True),
    ('[{"a": 1} 2]', False),
    ('[{"a": tru}]', False),
])
def test_json_forms_give_the_same_files_or_error(nodes, taken):
    payload = request(document_text(nodes=nodes))
    if taken is not None:
        assert (native(payload) is not None) == taken
    result = assert_same(payload)
    if native(payload) is not None:
        assert native_outcome(payload, 16) == result


@pytest.mark.parametrize("text", [
    document_text() + b" \n",
    document_text().replace(b'"nodes": [], "beams": []', b'"beams": [], "nodes": [{}]'),
    document_text().replace(b'"nodes": []', b'"nodes": [{"a": 1}], "nodes": []'),
])
def test_documents_read_either_way_give_the_same_files(text):
    assert assert_same(request(text))[0] != "error"


@pytest.mark.parametrize("text", [
    b"\xef\xbb\xbf" + document_text(),
    document_text()[:-1],
    document_text() + b"{}",
    document_text().replace(b'"nodes": [], ', b""),
    document_text(nodes='{}'),
    document_text(nodes='[1]'),
    document_text(mesh_setup='[]'),
    document_text(mesh_setup='null'),
    document_text().replace(b'"nodes": []', b'"nodes": [{"name": "\xff"}]'),
    b'{"nodes": [{"a": "\xed\xa0\x80"}]}',
    b'{"nodes": [{"a": "\xc0\xaf"}]}',
    b'[]',
    b'',
])
def test_broken_documents_give_the_same_error(text):
    assert assert_same(request(text))[0] == "error"


VALID = request(document_text(nodes='[{"id": 1, "name": "N1", "x": 0.5}]'))


@pytest.mark.parametrize("payload", [
    {"input": ""},
    {"input": "A"},
    {"input": "QUJD="},
    {"input": "QQ="},
    {"input": VALID["input"] + "\n"},
    {"input": VALID["input"][:-4]},
    {"input": "é" + VALID["input"]},
    {"input": base64.b64encode(gzip.compress(document_text()) * 2).decode()},  # two members
    {"input": base64.b64encode(gzip.compress(document_text()) + b"\0\0").decode()},
    {"input": base64.b64encode(gzip.compress(document_text())[:-3]).decode()},
    {"input": base64.b64encode(b"\x1f\x8b\x08\x00" + bytes(20)).decode()},
    {"input": VALID["input"], "extra": 1},
    {"input": None},
    [("input", VALID["input"])],
])
def test_broken_requests_give_the_same_error(payload):
    assert_same(payload)


@pytest.mark.parametrize("seed", range(30))
def test_damaged_requests_give_the_same_outcome(seed):
    rng = random.Random(seed)
    packed = bytearray(gzip.compress(document_text(nodes='[{"id": 1, "name": "Nœud", "x": [0.5, "\\u00e9"]}]')))
    for _ in range(rng.randrange(1, 4)):
        packed[rng.randrange(len(packed))] ^= 1 << rng.randrange(8)
    payload = {"input": base64.b64encode(bytes(packed)).decode()}
    assert_same(payload)
    assert native_outcome(payload, 16) == native_outcome(payload, 1 << 20)


def test_native_render_writes_the_python_render():
    doc = random_document(7)
    files = _template.render(json.dumps(doc).encode(), MEMBERS, SETUP_MEMBERS, TARSIS_NAMESPACE, "a&b \"c\".def")
    assert files == baseline.render(doc, "a&b \"c\".def")


def test_threads_filling_at_once_get_their_own_files():
    from concurrent.futures import ThreadPoolExecutor

    payloads = [request(json.dumps(random_document(seed), ensure_ascii=False).encode()) for seed in range(8)]
    expected = [outcome(baseline.fill_template, p) for p in payloads]
    with ThreadPoolExecutor(4) as pool:
        got = list(pool.map(lambda p: outcome(tarsis_template.fill_template, p), payloads * 3))
    assert got == expected * 3


@pytest.mark.parametrize("depth", [_template.MAX_DEPTH + 1, 900])
def test_nesting_beyond_the_limit_is_refused_with_its_reason(depth):
    # read by the host's decoder (a name given twice), then refused by the writer, never half-written
    nodes = '[{"a": 1, "a": ' + "[" * depth + "]" * depth + "}]"
    with pytest.raises(InternalError) as caught:
        tarsis_template.fill_template(request(document_text(nodes=nodes)))
    assert str(caught.value) == f"Tarsis model document nests deeper than {_template.MAX_DEPTH} levels"
