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


@pytest.mark.parametrize("after", [
    b"abc<?p?>def", b"abc<!--c-->def", b"abc<!--c-->def<?p?>gh", b"abc<![CDATA[x]]><!--c-->", b"<!--c-->x<!--d-->y<z/>",
    b"\n</project>", b"tail<broken", b"t<!--c-->u&bogus;", b"&quot;<a\xc3\xa9/></project>",
])
def test_text_after_the_found_table_agrees(after):
    data = b'<project xmlns="urn:norvale:tarsis"><meta/><table name="R"><obj/></table>' + after
    assert differential.compare(data) == []


@pytest.mark.parametrize("uri", [b"urn:a}b", b"}", b"http://www.w3.org/XML/1998/namespace", b""])
def test_namespace_declarations_the_host_refuses_or_accepts_agree(uri):
    for decl in (b"xmlns", b"xmlns:q"):
        data = b'<project xmlns:t="urn:norvale:tarsis"><meta/><t:table name="R" ' + decl + b'="' + uri + b'"><t:obj/></t:table></project>'
        assert differential.compare(data) == []
