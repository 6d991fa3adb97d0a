# Peers for the Python module's tests: a TCP echo server, lrzsz on a TCP
# connection, the library's T=1 node on a pseudo-terminal.
import contextlib
import os
import socket
import subprocess
import threading
import time

import pytest


def until(condition, seconds=5):
    """Looks at condition every 10 ms until it holds (True) or seconds pass (False)."""
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


class EchoServer:
    """Echoes every caller on 127.0.0.1, each in a thread of its own."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.locator = "tcpip:127.0.0.1@%d" % self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            connection, _ = self.listener.accept()
            threading.Thread(target=self.echo, args=(connection,), daemon=True).start()

    @staticmethod
    def echo(connection):
        with connection, contextlib.suppress(ConnectionError):  # a caller may leave with bytes unread
            while data := connection.recv(1 << 16):
                connection.sendall(data)


class Peer:
    """A command (sz, rz) on the far end of the one TCP connection its locator makes."""

    def __init__(self, folder, *command, seconds=30):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.locator = "tcpip:127.0.0.1@%d" % self.listener.getsockname()[1]
        self.status = None  # also when the command did not end within seconds
        self.thread = threading.Thread(target=self.serve, args=(folder, command, seconds))
        self.thread.start()

    def serve(self, folder, command, seconds):
        connection, _ = self.listener.accept()
        with connection, contextlib.suppress(subprocess.TimeoutExpired):
            self.status = subprocess.run(command, stdin=connection, stdout=connection, stderr=subprocess.DEVNULL,
                                         cwd=folder, timeout=seconds).returncode

    def join(self, seconds=30):
        self.thread.join(seconds)
        self.listener.close()
        return None if self.thread.is_alive() else self.status


@pytest.fixture
def echo():
    return EchoServer()


@pytest.fixture
def peer():
    return Peer


@pytest.fixture
def t1_node():
    """The serial: locator of a T=1 node (NAD 12) that answers a frame with its bytes reversed and 90 00."""
    node = subprocess.Popen([os.environ["VARONET_T1_NODE"]], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    yield "serial:%s@9600" % node.stdout.readline().decode().strip()
    node.stdin.close()
    node.wait(10)
