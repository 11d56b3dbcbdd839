"""Seeded generator of Tarsis-like XML documents and of faulty variants of them.

Used by the differential tests (small runs) and by `make fuzz` (long runs): every document is read
by the native module and by the ElementTree reference, and the answers must agree.
"""

from __future__ import annotations

import random

NS = "urn:norvale:tarsis"
OTHER = "urn:example:other"
TABLE_NAMES = ["Reactions", "Forces", "Result classes - UGT", "R", ""]

_TEXTS = [
    "", " ", "\n  ", "x", "a b", "K1", "10.5", "&amp;", "&lt;&gt;", "&#65;&#x42;", "&quot;&apos;",
    "caf\u00e9", "\u65e5\u672c", "\U0001f600", "line\r\nbreak", "cr\rhere", "tab\there", "]", "]]", "a]b",
    "&#13;", "&#x10FFFF;", "&#9;&#10;", ">", "\u0085\u2028", "\u00a0",
    "a longer run of plain text, well beyond sixteen bytes, for the wide scans", "x" * 40 + "&amp;" + "y" * 20,
]
_ATTR_VALUES = [
    "", "v", "1.5", "K&amp;2", "a&lt;b", "say &quot;hi&quot;", "it&apos;s", "&#x20AC;", "tab\tnl\ncr\r",
    "crlf\r\nend", "&#10;&#13;&#9;", "caf\u00e9", "\U0001f600", ">", "'", '"',
    "a-much-longer-attribute-value-0123456789-abcdefghij", "long value with > and spaces and 'quotes' too",
]


class Gen:
    """Builds one random document as a list of text pieces."""

    def __init__(self, rng: random.Random) -> None:
        self.rng = rng
        self.out: list[str] = []
        self.prefixes = {"": NS}

    def text(self) -> str:
        r = self.rng.random()
        if r < 0.5:
            return self.rng.choice(["", "\n", "\n  ", " "])
        if r < 0.93:
            return self.rng.choice(_TEXTS)
        if r < 0.97:
            return "<![CDATA[" + self.rng.choice(["x<y&z", "", "]]", "a]b>", "\r\n"]) + "]]>"
        return "<!-- c -->" if self.rng.random() < 0.5 else "<?pi data?>"

    def attr_value(self, quote: str) -> str:
        v = self.rng.choice(_ATTR_VALUES)
        if quote in v.replace("&quot;", "").replace("&apos;", ""):
            v = v.replace(quote, "&quot;" if quote == '"' else "&apos;")
        return v

    def attrs(self, extra: dict[str, str]) -> str:
        parts = []
        for name, value in extra.items():
            q = self.rng.choice('"\'')
            value = value.replace("&", "&amp;").replace("<", "&lt;").replace(q, "&quot;" if q == '"' else "&apos;")
            parts.append(f"{name}={q}{value}{q}")
        for _ in range(self.rng.choice([0, 0, 0, 1, 2])):
            name = self.rng.choice(["a", "b", "x:y", "o:k", "xml:lang", "t:z", "n.m-9_", "_u"])
            if name in extra or any(p.startswith(name + "=") for p in parts):
                continue
            q = self.rng.choice('"\'')
            parts.append(f"{name}={q}{self.attr_value(q)}{q}")
        if self.rng.random() < 0.08:
            parts.append(self.rng.choice([f'xmlns="{NS}"', f'xmlns:t="{NS}"', f'xmlns:o="{OTHER}"',
                                          'xmlns=""', f'xmlns:x="{OTHER}"', f'xmlns:t="{OTHER}"']))
        if not parts:
            return ""
        seps = [self.rng.choice([" ", "  ", "\n\t", "\r\n "]) for _ in parts]
        return "".join(s + p for s, p in zip(seps, parts))

    def name(self, local: str) -> str:
        return self.rng.choice(["", "", "", "t:"]) + local

    def element(self, local: str, attrs: dict[str, str], children) -> None:
        name = self.name(local)
        a = self.attrs(attrs)
        if children is None and self.rng.random() < 0.6:
            self.out.append(f"<{name}{a}{self.rng.choice(['', ' '])}/>")
            return
        self.out.append(f"<{name}{a}>")
        self.out.append(self.text())
        for child in children or ():
            child()
            self.out.append(self.text())
        self.out.append(f"</{name}{self.rng.choice(['', '', ' '])}>")

    def cell(self, kind: str, i: int) -> None:
        key = "t" if kind == "h" else "v"
        attrs = {} if self.rng.random() < 0.1 else {key: self.rng.choice(["Node", "Fx", "K1", "10", "", "x y"])}
        self.element(f"{kind}{i}", attrs, None)

    def block(self) -> None:
        n = self.rng.randint(0, 3)
        header = lambda: self.element("h", {}, [lambda i=i: self.cell("h", i) for i in range(n)])
        rows = [lambda: self.element("row", {}, [lambda i=i: self.cell("p", i)
                                                for i in self.rng.sample(range(n + 1), self.rng.randint(0, n))])
                for _ in range(self.rng.randint(0, 3))]
        parts = ([header] if self.rng.random() < 0.9 else []) + rows
        attrs = {"h": self.rng.choice(["R", "S", ""])} if self.rng.random() < 0.8 else {}
        self.element(self.rng.choice(["blk", "res", "h"]), attrs, parts)

    def table(self, depth: int) -> None:
        attrs = {"name": self.rng.choice(TABLE_NAMES)} if self.rng.random() < 0.95 else {}
        kids = []
        if self.rng.random() < 0.85:
            kids.append(lambda: self.element("obj", {}, [self.block for _ in range(self.rng.randint(0, 3))]))
        if depth < 3 and self.rng.random() < 0.2:
            kids.append(lambda: self.table(depth + 1))
        self.element("table", attrs, kids)

    def container(self, depth: int) -> None:
        kids = []
        for _ in range(self.rng.randint(0, 4)):
            r = self.rng.random()
            if r < 0.5:
                kids.append(lambda d=depth: self.table(d))
            elif r < 0.65 and depth < 4:
                kids.append(lambda d=depth: self.container(d + 1))
            elif r < 0.8:
                kids.append(lambda: self.element("def", {"uri": self.rng.choice(["a.def", "b&c.def", "x\"y.def"])},
                                                 None))
            else:
                kids.append(lambda: self.element(self.rng.choice(["meta", "o:def", "other", "x.y-z_9", "_r"]), {}, None))
        self.element(self.rng.choice(["container", "group"]), {}, kids)

    def document(self) -> str:
        rng = self.rng
        if rng.random() < 0.7:
            enc = rng.choice(["", ' encoding="UTF-8"', " encoding='utf-8'", ' encoding="US-ASCII"',
                              ' encoding="ISO-8859-1"', ' standalone="yes"'])
            self.out.append(f'<?xml version="1.0"{enc}?>')
        if rng.random() < 0.2:
            self.out.append(rng.choice(["\n<!-- prolog -->", "\n<?style x?>", "\n"]))
        if rng.random() < 0.03:
            self.out.append('\n<!DOCTYPE project [<!ENTITY e "entity text">]>')
        self.out.append("\n")
        decls = f' xmlns="{NS}" xmlns:t="{NS}" xmlns:o="{OTHER}" xmlns:x="{OTHER}"'
        self.out.append(f"<project{decls}>")
        for _ in range(rng.randint(1, 4)):
            self.out.append(self.text())
            self.container(0) if rng.random() < 0.6 else self.table(0)
        self.out.append("\n</project>")
        if rng.random() < 0.2:
            self.out.append(rng.choice(["\n", "<!-- end -->", "<?end?>\n"]))
        return "".join(self.out)


def document(seed: int) -> bytes:
    """A well-formed (unless declared otherwise) document for `seed`."""
    rng = random.Random(seed)
    text = Gen(rng).document()
    if rng.random() < 0.05:
        text = "<root>" + "<d>" * rng.randint(1, 3000) + '<table name="R"/>' + "</d>" * 3000 + "</root>"
    data = text.encode("utf-8")
    if rng.random() < 0.05:
        data = b"\xef\xbb\xbf" + data
    return data


_BAD = [b"\x01", b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xef\xbf\xbf", b"&", b"&bogus;", b"&#0;", b"&#xD800;",
        b"<", b"]]>", b"<!-- a -- b -->", b"<?xml version='1.0'?>", b"</x>", b"<a b='1' b='2'/>",
        b"<u:x/>", b"<a x:k='1' o:k='2'/>", b"<!DOCTYPE x>", b"\x00", b"<a xmlns:p=''/>", b"<1/>", b"<a\xc3\xa9/>",
        b"<![CDATA[x", b"<a b=c/>", b"<a b='<'/>", b"\r", b"<?xml-stylesheet?>", b"<?XmL x?>"]


def mutate(data: bytes, rng: random.Random) -> bytes:
    """A variant of `data` that is usually no longer well-formed."""
    kind = rng.randrange(6)
    if not data:
        return rng.choice(_BAD)
    i = rng.randrange(len(data) + 1)
    if kind == 0:
        return data[:i]
    if kind == 1:
        return data[:i] + rng.choice(_BAD) + data[i:]
    if kind == 2:
        j = min(len(data), i + rng.randint(1, 8))
        return data[:i] + data[j:]
    if kind == 3:  # swap the names of two tags
        starts = [k for k in range(len(data) - 1) if data[k:k + 1] == b"<" and data[k + 1:k + 2].isalpha()]
        if len(starts) >= 2:
            a, b = sorted(rng.sample(starts, 2))
            ea = data.find(b">", a)
            return data[:a] + data[b:data.find(b">", b) + 1] + data[ea + 1:]
        return data[:i]
    if kind == 4:
        return data[:i] + bytes([rng.randrange(256)]) + data[i + 1:]
    return data.replace(b'xmlns:t="' + NS.encode() + b'"', b'xmlns:t="' + b"urn:x" + b'"', 1)
