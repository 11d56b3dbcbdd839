"""The XML engine (through the Tarsis module) against the ElementTree reference, on generated
documents and on seeded faulty variants of them. `make fuzz` runs the same comparison much longer."""

import random

import pytest

import differential
import xmlgen

SEEDS = range(60)


@pytest.mark.parametrize("seed", SEEDS)
def test_generated_documents_agree(seed):
    assert differential.compare(xmlgen.document(seed), step=1 + seed % 13) == []


@pytest.mark.parametrize("seed", SEEDS)
def test_mutated_documents_agree(seed):
    rng = random.Random(seed)
    data = xmlgen.document(seed)
    for _ in range(4):
        assert differential.compare(xmlgen.mutate(data, rng), step=1 + rng.randrange(40)) == []


@pytest.mark.parametrize("fragment", [
    b"<![CDATA[a]]b]]>", b"<!-- a - b -->", b"<?pi x?>", b"&#x10FFFF;&#9;", b"a\r\nb\rc", b"]]", b"\xc2\x85\xe2\x80\xa8",
    b"<t:x xmlns:t='urn:a'><t:y xmlns:t='urn:b'/></t:x>", b"<x xmlns='' a='1'/>", b"<x xml:lang='en'/>",
    b"<x a='&#10;&#13;' b=\"\t\r\n\"/>", b"<x a='1' t:a='2'/>",
])
def test_constructs_inside_a_table_agree(fragment):
    data = (b'<project xmlns="urn:norvale:tarsis" xmlns:t="urn:norvale:tarsis"><meta/><table name="R">'
            + fragment + b"<obj/></table>\n</project>")
    assert differential.compare(data) == []
