"""The native JSON writer against the json module: same text, same plain data, same errors."""

import enum
import json
import math
import random
import struct
import sys

import pytest

from norvale._native import json_dumps, json_to_plain


def hook(obj):
    return obj._serialize()


class Ser:
    def __init__(self, value):
        self.value = value

    def _serialize(self):
        return self.value


class S(str):
    pass


class I(int):
    def __repr__(self):
        return "I!"


class F(float):
    def __repr__(self):
        return "F!"


class Color(enum.IntEnum):
    RED = 3


class Kind(str, enum.Enum):
    BEAM = "beam"


class L(list):
    pass


class D(dict):
    pass


def reference(value, default=hook):
    return json.dumps(value, default=default)


def plain_reference(value):
    return json.loads(json.dumps(value, default=hook))


FLOATS = [0.0, -0.0, 1.0, -1.5, 0.1, 1 / 3, 1e16, 1e15, 9999999999999998.0, 1e-4, 1e-5, 0.00011,
          5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 123456789012345678.0, 1e22, 1e23,
          float("inf"), -float("inf"), float("nan")]

TEXTS = ["", "plain", 'quote " backslash \\ slash /', "\b\f\n\r\t\x00\x01\x1f\x7f", "é ü ß", "€ \u2028 \uffff",
         "\U0001f600 \U0010ffff", "\ud800 lone \udfff", "x" * 1000 + "\n"]


@pytest.mark.parametrize("value", FLOATS + TEXTS + [None, True, False, 0, -1, 2**63, -(2**63) - 1, 10**300,
                                                     [], {}, (), [[]], {"": {}}])
def test_scalars_and_empties_match(value):
    assert json_dumps(value) == json.dumps(value)
    assert json.dumps(json_to_plain(value)) == json.dumps(value)


def test_random_doubles_are_written_as_repr():
    rng = random.Random(7)
    values = []
    while len(values) < 20000:
        d = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if math.isfinite(d):
            values.append(d)
    values += [round(rng.uniform(-1e5, 1e5), rng.randint(0, 8)) for _ in range(5000)]
    assert json_dumps(values) == json.dumps(values)


@pytest.mark.parametrize("value", [
    S("sub é"), I(5), I(10**30), F(2.5), Color.RED, Kind.BEAM,
    L([1, (2, 3)]), D(a=1), (1, [2, (3,)]),
    {1: "int", 2.5: "float", True: "true", False: "false", None: "null", 10**20: "big",
     float("inf"): "inf", -float("inf"): "-inf", float("nan"): "nan", S("k"): "str subclass", I(7): "int subclass",
     Color.RED: "int enum"},
    {1: "first", "1": "second"},
])
def test_subclasses_and_key_coercion_match(value):
    assert json_dumps(value) == json.dumps(value)
    plain = json_to_plain(value)
    expected = json.loads(json.dumps(value))
    assert plain == expected and json.dumps(plain) == json.dumps(expected)


def test_plain_data_has_only_exact_builtin_types():
    value = {"a": (S("x"), I(2), F(1.5), Color.RED, Kind.BEAM, L([D(k=1)]))}
    plain = json_to_plain(value)
    assert plain == {"a": ["x", 2, 1.5, 3, "beam", [{"k": 1}]]}
    items = plain["a"]
    assert [type(v) for v in items] == [str, int, float, int, str, list]
    assert type(items[5][0]) is dict


def test_dict_subclass_is_read_through_items():
    class Odd(dict):
        def items(self):
            return [("from_items", 1)]

    assert json_dumps(Odd(a=1)) == json.dumps(Odd(a=1)) == '{"from_items": 1}'
    assert json_to_plain(Odd(a=1)) == {"from_items": 1}


def test_hook_results_are_encoded_in_turn():
    value = [Ser({"inner": Ser((1, Ser("deep")))}), Ser(None)]
    assert json_dumps(value, hook) == reference(value)
    assert json_to_plain(value, hook) == plain_reference(value)


def test_owned_hook_results_may_be_reused_but_shared_ones_are_copied():
    shared = [1, 2]
    value = [Ser({"list": shared}), Ser(shared)]
    plain = json_to_plain(value, hook)
    assert plain == [{"list": [1, 2]}, [1, 2]]
    assert plain[0]["list"] is not shared and plain[1] is not shared
    plain[1].append(3)
    assert shared == [1, 2]


def test_same_container_twice_is_two_copies():
    inner = [1]
    plain = json_to_plain([inner, inner])
    assert plain == [[1], [1]] and plain[0] is not plain[1]


def random_value(rng, depth=0):
    pick = rng.randint(0, 13 if depth < 4 else 6)
    if pick == 0:
        return rng.choice([None, True, False])
    if pick == 1:
        return rng.randint(-2**70, 2**70)
    if pick == 2:
        return rng.choice(FLOATS) if rng.random() < 0.3 else rng.uniform(-1e6, 1e6)
    if pick == 3:
        return "".join(rng.choice('ab"\\\n\x00\x7fé€\U0001f600\ud800') for _ in range(rng.randint(0, 6)))
    if pick == 4:
        return rng.choice([S("s"), I(-3), F(0.5), Color.RED, Kind.BEAM])
    if pick in (5, 6):
        return rng.randint(-1000, 1000)
    if pick in (7, 8):
        return [random_value(rng, depth + 1) for _ in range(rng.randint(0, 4))]
    if pick == 9:
        return tuple(random_value(rng, depth + 1) for _ in range(rng.randint(0, 3)))
    if pick in (10, 11):
        keys = [rng.choice(["k", "key", 1, 2.5, None, True, S("s")]) for _ in range(rng.randint(0, 4))]
        return {k: random_value(rng, depth + 1) for k in keys}
    return Ser(random_value(rng, depth + 1))


def test_random_documents_match():
    rng = random.Random(11)
    for _ in range(3000):
        value = random_value(rng)
        assert json_dumps(value, hook) == reference(value)
        assert json.dumps(json_to_plain(value, hook)) == json.dumps(plain_reference(value))


def cyclic_list():
    a = []
    a.append(a)
    return a


def cyclic_dict():
    d = {}
    d["x"] = [d]
    return d


class SelfRef:
    def _serialize(self):
        return {"me": self}


class Boom:
    def _serialize(self):
        raise KeyError("boom")


class Items2(dict):
    def items(self):
        return [("a",)]


@pytest.mark.parametrize("make", [
    lambda: [object()],
    lambda: {(1, 2): "tuple key"},
    lambda: {"a": [1, {frozenset(): 2}]},
    cyclic_list,
    cyclic_dict,
    lambda: [SelfRef()],
    lambda: {"q": [Boom()]},
    lambda: 10**5000,
    lambda: {10**5000: 1},
    lambda: Items2(a=1),
    lambda: {1j: 0},
], ids=["object", "tuple-key", "nested-bad-key", "cyclic-list", "cyclic-dict", "self-reference", "hook-raises",
        "huge-int", "huge-int-key", "bad-items", "complex-key"])
@pytest.mark.parametrize("mode", ["dumps-hook", "plain-hook", "dumps-no-hook", "plain-no-hook"])
def test_errors_match(make, mode):
    value = make()
    with_hook = mode.endswith("-hook") and not mode.endswith("no-hook")
    native = {"dumps": json_dumps, "plain": json_to_plain}[mode.split("-")[0]]
    default = hook if with_hook else None
    with pytest.raises(Exception) as expected:
        json.dumps(value, default=default)
    with pytest.raises(type(expected.value)) as got:
        native(value, default)
    assert str(got.value) == str(expected.value)


def test_object_without_hook_names_its_class():
    with pytest.raises(TypeError, match=r"^Object of type Ser is not JSON serializable$"):
        json_dumps([Ser(1)])


def test_deep_nesting_is_a_recursion_error_not_a_crash():
    value = []
    for _ in range(sys.getrecursionlimit() * 50):
        value = [value]
    for native in (json_dumps, json_to_plain):
        with pytest.raises(RecursionError):
            native(value)
