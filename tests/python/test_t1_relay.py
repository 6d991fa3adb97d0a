# T=1 against the library's own node on a pseudo-terminal, and the relay between real sockets.
import os
import socket
import threading
import time

import pytest
import varonet
from conftest import until


@pytest.mark.parametrize("frame", [bytes.fromhex("00A40400"), bytes(range(256)) * 3])  # one block, a chain
def test_exchange_send_and_receive_with_the_t1_node(t1_node, frame):
    with varonet.open(t1_node) as port:
        node = varonet.t1.Protocol(port, node=0x12, bwt=1.0, cwt=0.1)
        assert node.exchange(frame) == frame[::-1] + b"\x90\x00"
        node.send(frame)
        assert node.receive() == frame[::-1] + b"\x90\x00"


def test_a_silent_node_and_bad_settings_raise():
    master, slave = os.openpty()
    with varonet.open("serial:%s@9600" % os.ttyname(slave)) as port:
        with pytest.raises(varonet.Error) as raised:
            varonet.t1.Protocol(port, bwt=0.02).exchange(b"\x01")
        assert raised.value.code == 3842
        for settings in [{"node": 256}, {"bwt": -1}]:
            with pytest.raises(ValueError):
                varonet.t1.Protocol(port, **settings)
    os.close(master)


class Recorder:
    """Every call of the relay's observer, in order (the relay's threads append)."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        return lambda side, other, *more: self.calls.append((name, side, *more))

    def wait_for(self, call):
        until(lambda: any(c[:len(call)] == call for c in self.calls))
        return [c for c in self.calls if c[:len(call)] == call]


def test_the_relay_joins_a_caller_to_an_echo_server_and_tells_its_observer(echo):
    recorder, data = Recorder(), os.urandom(1 << 20)
    with varonet.Relay("server:tcpip:Port=0", echo.locator, observer=recorder) as relay:
        with socket.create_connection(("127.0.0.1", relay.ports[0]), timeout=10) as caller:
            threading.Thread(target=caller.sendall, args=(data,), daemon=True).start()
            assert caller.makefile("rb").read(len(data)) == data
        assert recorder.wait_for(("closed", "server:tcpip:Port=0"))
        started = time.monotonic()
    assert time.monotonic() - started < 1.5
    assert relay.ports[1] is None
    assert relay.running is False
    assert sum(len(c[2]) for c in recorder.calls if c[:2] == ("dump", "server:tcpip:Port=0")) == len(data)
    assert recorder.calls[0][0] == "opened"


def test_a_side_that_cannot_open_is_told_with_the_librarys_error():
    with socket.socket() as unused:
        unused.bind(("127.0.0.1", 0))
        refused = "tcpip:127.0.0.1@%d" % unused.getsockname()[1]
    recorder = Recorder()
    with varonet.Relay("loopback:", refused, observer=recorder, retry_pause=(0.05, 0.1)):
        failed = recorder.wait_for(("open_failed", refused))
    assert isinstance(failed[0][2], varonet.SystemCallError)
    assert failed[0][2].errno == 111
