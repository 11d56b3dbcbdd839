"""Long differential run of the native JSON writer against the json module (`make fuzz`).

Random documents (nested containers, odd keys, str/int/float subclasses, hooked objects, random
doubles and code points) must give the same text as json.dumps and the same data as
json.loads(json.dumps(...)), or the same error type and message.
"""

import json
import math
import random
import struct
import sys
import time

from norvale._native import json_dumps, json_to_plain


class Hooked:
    __slots__ = ("value",)

    def __init__(self, value):
        self.value = value

    def _serialize(self):
        return self.value


class S(str):
    pass


class I(int):
    pass


class F(float):
    pass


def hook(obj):
    return obj._serialize()


def text(rng):
    return "".join(chr(rng.choice([rng.randint(0, 0x7f), rng.randint(0x80, 0xffff), rng.randint(0x10000, 0x10ffff)]))
                   for _ in range(rng.randint(0, 12)))


def number(rng):
    pick = rng.random()
    if pick < 0.3:
        return struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
    if pick < 0.6:
        return round(rng.uniform(-1e9, 1e9), rng.randint(0, 12))
    if pick < 0.8:
        return rng.randint(-2**200, 2**200)
    return rng.randint(-100, 100)


def key(rng):
    return rng.choice([text, number, lambda r: r.choice([None, True, False]), lambda r: S(text(r)),
                       lambda r: I(r.randint(0, 9)), lambda r: (1, 2)])(rng)


def value(rng, depth=0):
    pick = rng.randint(0, 9 if depth < 5 else 4)
    if pick == 0:
        return rng.choice([None, True, False])
    if pick == 1:
        return number(rng)
    if pick == 2:
        return text(rng)
    if pick == 3:
        return rng.choice([S(text(rng)), I(rng.randint(-5, 5)), F(rng.random()), object()])
    if pick == 4:
        return rng.randint(0, 10)
    if pick in (5, 6):
        seq = [value(rng, depth + 1) for _ in range(rng.randint(0, 5))]
        return tuple(seq) if rng.random() < 0.3 else seq
    if pick in (7, 8):
        return {key(rng): value(rng, depth + 1) for _ in range(rng.randint(0, 5))}
    return Hooked(value(rng, depth + 1))


def outcome(fn, *args):
    try:
        return "ok", fn(*args)
    except Exception as exc:  # compared by type and message
        return "error", (type(exc), str(exc))


def same_data(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return json.dumps(a) == json.dumps(b) and type(a) is type(b)


def main(seconds=float(sys.argv[1]) if len(sys.argv) > 1 else 60.0):
    rng = random.Random(int(time.time()))
    deadline = time.monotonic() + seconds
    runs = 0
    while time.monotonic() < deadline:
        doc = value(rng)
        for default in (None, hook):
            expected = outcome(lambda d: json.dumps(d, default=default), doc)
            got = outcome(json_dumps, doc, default)
            assert expected == got, (doc, expected, got)
            exp_plain = outcome(lambda d: json.loads(json.dumps(d, default=default)), doc)
            got_plain = outcome(json_to_plain, doc, default)
            assert exp_plain[0] == got_plain[0], (doc, exp_plain, got_plain)
            if exp_plain[0] == "ok":
                assert same_data(exp_plain[1], got_plain[1]), (doc, exp_plain, got_plain)
            else:
                assert exp_plain == got_plain, (doc, exp_plain, got_plain)
        runs += 1
    print(f"{runs} random documents: native JSON text and plain data agree with the json module")


if __name__ == "__main__":
    main()
