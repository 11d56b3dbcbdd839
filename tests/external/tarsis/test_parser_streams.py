"""What OutputFileParser.get_result reads: seekable streams (position restored), streams that
cannot seek (read from where they stand, as ElementTree reads them) and kit Files."""

import io
import os
import socket
import threading

import pytest

from norvale.core import File
from norvale.external.tarsis import TARSIS_NAMESPACE as NS
from norvale.external.tarsis.tarsis import OutputFileParser

TABLE = ('<table name="Reactions"><obj><blk h="R"><h><h0 t="Node"/><h1 t="Fx"/></h>'
         '<row><p0 v="K1"/><p1 v="10"/></row></blk></obj></table>')
DOC = (f'<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="{NS}"><meta/><c>{TABLE}'
       + "<pad/>" * 50_000 + "</c></project>").encode()
DOCTYPE_DOC = DOC.replace(b"<project", b'<!DOCTYPE project [<!ENTITY e "x">]>\n<project', 1)
EXPECTED = {"R": {"Node": ["K1"], "Fx": ["10"]}}


def pipe_stream(data):
    r, w = os.pipe()
    writer = threading.Thread(target=lambda: (os.write(w, data), os.close(w)))  # larger than a pipe buffer
    writer.start()
    return open(r, "rb"), writer


def socket_stream(data):
    a, b = socket.socketpair()
    writer = threading.Thread(target=lambda: (a.sendall(data), a.shutdown(socket.SHUT_WR), a.close()))
    writer.start()
    stream = b.makefile("rb")
    b.close()  # the file keeps the socket open
    return stream, writer


class ReadOnly:
    """Has read() and nothing else: no tell, seek or seekable."""

    def __init__(self, data):
        self._inner = io.BytesIO(data)

    def read(self, n=-1):
        return self._inner.read(n)


@pytest.mark.parametrize("data", [DOC, DOCTYPE_DOC], ids=["engine", "host parser"])
@pytest.mark.parametrize("make", [pipe_stream, socket_stream], ids=["pipe", "socket"])
def test_streams_that_cannot_seek_are_read_where_they_stand(make, data):
    stream, writer = make(data)
    try:
        assert OutputFileParser.get_result(stream, "Reactions") == EXPECTED
    finally:
        stream.read()  # let the writer finish
        stream.close()
        writer.join()


def test_a_stream_with_only_read_is_read_from_its_position():
    stream = ReadOnly(DOC)
    assert OutputFileParser.get_result(stream, "Reactions") == EXPECTED
    assert OutputFileParser._get_table_element(ReadOnly(DOC), "Reactions").get("name") == "Reactions"


@pytest.mark.parametrize("make", [lambda tmp: File.from_data(DOC), lambda tmp: File.from_path(tmp)],
                         ids=["from_data", "from_path"])
def test_a_kit_file_is_read_through_a_stream_of_its_own(tmp_path, make):
    path = tmp_path / "out.xml"
    path.write_bytes(DOC)
    file = make(path)
    opened = []
    original = File.open_binary

    def open_binary(self):
        opened.append(original(self))
        return opened[-1]

    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(File, "open_binary", open_binary)
        assert OutputFileParser.get_result(file, "Reactions") == EXPECTED
        assert OutputFileParser.get_result(file, "Reactions") == EXPECTED  # again: a fresh stream
    assert len(opened) == 2 and all(s.closed for s in opened)


def test_a_seekable_stream_keeps_its_position():
    stream = io.BytesIO(DOC)
    stream.seek(17)
    assert OutputFileParser.get_result(stream, "Reactions") == EXPECTED
    assert stream.tell() == 17


@pytest.mark.parametrize("value", [str(DOC), DOC, 3, None])
def test_what_is_no_stream_is_refused_by_name(value):
    with pytest.raises(TypeError) as caught:
        OutputFileParser.get_result(value, "Reactions")
    assert str(caught.value) == ("get_result() argument 'file' must be a readable binary stream or a File, not "
                                 + type(value).__name__)
