# Devices and servers from Python: real TCP and pty peers, errors, threads, Ctrl-C.
import os
import signal
import socket
import threading
import time

import pytest
import varonet
from conftest import until


def refused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("locator, kind, code, meaning, text", [
    ("none:", varonet.NoDeviceError, None, "none: names no device", "'none:' names no device: none: names no device"),
    ("serial:ttyS0@1000000", varonet.NoDeviceError, None, "the baud rate 1000000 is not one of the listed rates",
     "'serial:ttyS0@1000000' names no device: the baud rate"),
    ("nocolon", varonet.LocatorError, 9728, varonet.explain(9728), "(code 9728 = 0x2600: the locator has no"),
    ("bogus:x", varonet.LocatorError, 9729, "the resolver cannot use the locator", "(code 9729 = 0x2601: the"),
    ("tcpip:127.0.0.1@%d" % refused_port(), varonet.SystemCallError, 111, "Connection refused", "refused (errno 111)"),
    ("file:/nonexistent/x@ro", varonet.SystemCallError, 2, "No such file or directory", "directory (errno 2)"),
])
def test_a_failed_open_raises_the_librarys_code_and_text(locator, kind, code, meaning, text):
    with pytest.raises(kind) as raised:
        varonet.open(locator)
    assert text in str(raised.value)
    assert raised.value.code == code
    assert raised.value.meaning == meaning
    assert isinstance(raised.value, OSError) == (kind is varonet.SystemCallError)


@pytest.mark.parametrize("call, error", [
    (lambda d: d.write("text"), TypeError), (lambda d: d.read_until(b""), ValueError),
    (lambda d: setattr(d, "timeout", -1), ValueError), (lambda d: varonet.open("loopback:", timeout=-2), ValueError),
])
def test_bad_arguments_raise_python_errors(call, error):
    with varonet.open("loopback:") as device, pytest.raises(error):
        call(device)


def test_a_tcp_stream_reads_by_size_line_and_separator_and_keeps_what_follows(echo):
    with varonet.open(echo.locator, timeout=5) as device:
        assert device.write(b"one\ntwo;three\nfour") == 18
        assert device.readline() == b"one\n"
        assert device.read_until(b";") == b"two;"
        assert device.read_until(b"\n", size=3) == b"thr"
        assert [line for _, line in zip(range(1), device)] == [b"ee\n"]
        assert device.read(4) == b"four"
        device.write(b"xy")
        buffer = bytearray(2)
        assert (device.readinto(buffer), buffer) == (2, bytearray(b"xy"))
        device.write(b"z")
        assert until(lambda: device.in_waiting == 1)


@pytest.mark.parametrize("timeout, waited", [(0, 0), (0.2, 0.2)])
def test_a_read_returns_what_came_when_its_time_out_passes(echo, timeout, waited):
    with varonet.open(echo.locator, timeout=timeout) as device:
        started = time.monotonic()
        assert device.read(10) == b""
        assert waited <= time.monotonic() - started < waited + 1


def test_the_end_of_the_stream_reads_empty_and_a_closed_device_refuses(echo):
    with socket.create_server(("127.0.0.1", 0)) as listener:
        device = varonet.open("tcpip:127.0.0.1@%d" % listener.getsockname()[1])
        far, _ = listener.accept()
        far.sendall(b"last")
        far.close()
        assert device.read() == b"last"
        assert device.is_open is False
        device.close()
        assert device.closed
        with pytest.raises(ValueError):
            device.read(1)


def test_a_file_reads_to_its_end_and_writes(tmp_path):
    (tmp_path / "in.txt").write_bytes(b"one\ntwo")
    with varonet.open("file:%s@ro" % (tmp_path / "in.txt")) as file:  # no time-out: the end of the file ends a read
        assert list(file) == [b"one\n", b"two"]
        assert file.read() == b""
    with varonet.open("file:%s@tr" % (tmp_path / "out.txt")) as file:
        file.write(b"written")
    assert (tmp_path / "out.txt").read_bytes() == b"written"


def test_a_pseudo_terminal_as_a_serial_port_both_ways():
    master, slave = os.openpty()
    with varonet.open("serial:%s@9600" % os.ttyname(slave), timeout=5) as port:
        port.write(b"ping\r\n")
        assert os.read(master, 100) == b"ping\r\n"
        os.write(master, b"pong\n")
        assert port.readline() == b"pong\n"
    os.close(master)


def test_two_threads_read_and_write_one_device_at_once(echo):
    data = os.urandom(8 << 20)  # far beyond the socket buffers: a writer alone would stall
    with varonet.open(echo.locator, timeout=20) as device:
        writer = threading.Thread(target=device.write, args=(data,))
        writer.start()
        assert device.read(len(data)) == data
        writer.join(20)


@pytest.mark.parametrize("stop", ["SIGINT", "close"])
def test_a_blocking_read_ends_within_a_second_on_ctrl_c_or_close(stop):
    with socket.create_server(("127.0.0.1", 0)) as listener:
        device = varonet.open("tcpip:127.0.0.1@%d" % listener.getsockname()[1])
        act = (lambda: os.kill(os.getpid(), signal.SIGINT)) if stop == "SIGINT" else device.close
        threading.Timer(0.2, act).start()
        started = time.monotonic()
        if stop == "SIGINT":
            with pytest.raises(KeyboardInterrupt):
                device.read(1)
        else:
            assert device.read(1) == b""
        assert time.monotonic() - started < 1.2
        device.close()


def test_a_server_hands_out_its_callers_and_times_out_without_one():
    with varonet.serve("server:tcpip:Port=0") as server:
        with pytest.raises(varonet.TimeoutError) as raised:
            server.accept(timeout=0.1)
        assert raised.value.code == 4100
        with socket.create_connection(("127.0.0.1", server.port)) as caller, server.accept(5) as device:
            assert device.name == "127.0.0.1:%d" % caller.getsockname()[1]
            caller.sendall(b"hi")
            assert device.read(2) == b"hi"
            device.write(b"yo")
            assert caller.recv(2) == b"yo"
    with pytest.raises(varonet.NoDeviceError):
        varonet.serve("none:")
