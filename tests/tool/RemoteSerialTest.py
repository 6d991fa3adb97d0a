# End-to-end tests of the varonet tool over the network forms of its
# locators: remote serial ports (rfc2217:, server:rfc2217:) against ser2net and
# pyserial, and TCP over IPv6, each locator used by the tool's subcommands.
#   /usr/bin/python3 RemoteSerialTest.py BINARY [unittest arguments]
import os
import pathlib
import select
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

import serial

TOOL = None  # set from the command line


def free_port(family=socket.AF_INET, host="127.0.0.1"):
    with socket.socket(family) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def ipv6():
    try:
        free_port(socket.AF_INET6, "::1")
        return True
    except OSError:
        return False


def listening(port, seconds=5):
    """True once something listens on port (/proc/net/tcp and tcp6): a peer's readiness."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            for line in pathlib.Path(table).read_text().splitlines()[1:]:
                fields = line.split()
                if fields[1].endswith(":%04X" % port) and fields[3] == "0A":
                    return True
        time.sleep(0.01)
    return False


def read_until(fd, done, seconds=5):
    """What fd gives until done(got) holds or seconds pass."""
    got, end = b"", time.monotonic() + seconds
    while not done(got) and select.select([fd], [], [], max(0.0, end - time.monotonic()))[0]:
        got += os.read(fd, 100)
    return got


class RemoteSerial(unittest.TestCase):
    """A pseudo-terminal as the serial port, ser2net serving it on a free port."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.master, self.slave = os.openpty()
        self.addCleanup(os.close, self.master)
        self.path = os.ttyname(self.slave)
        tty = termios.tcgetattr(self.slave)
        tty[3] = 0  # raw: no echo, no line editing
        termios.tcsetattr(self.slave, termios.TCSANOW, tty)

    def ser2net(self, device=None):
        port = free_port()
        config = pathlib.Path(self.folder.name, "ser2net%d.yaml" % port)
        config.write_text("connection: &remote\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                          "  connector: serialdev,%s,9600n81,local\n" % (port, device or self.path))
        server = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-u", "-c", str(config)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(server.kill)
        self.assertTrue(listening(port), "ser2net did not listen")
        return "rfc2217:127.0.0.1@%d:ReplyTimeout=200" % port

    def zmodem_peer(self, command, folder):
        """rz or sz behind a serial port of its own (socat's pseudo-terminal, which starts it once
        ser2net opens the port) that ser2net serves: the remote end of one transfer."""
        link = os.path.join(self.folder.name, command.split()[0])
        peer = subprocess.Popen(["socat", "PTY,rawer,wait-slave,link=" + link, "EXEC:" + command], cwd=folder,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(peer.kill)
        end = time.monotonic() + 5
        while not os.path.exists(link) and time.monotonic() < end:
            time.sleep(0.01)
        return peer, self.ser2net(os.path.realpath(link))

    @unittest.skipUnless(ipv6(), "this machine has no IPv6 loopback address ::1")
    def test_the_relay_serves_the_port_to_pyserial(self):
        port = free_port(socket.AF_INET6, "::1")
        relay = subprocess.Popen([TOOL, "relay", "server:rfc2217:%d" % port, "serial:%s@9600" % self.path],
                                 stderr=subprocess.PIPE)
        self.addCleanup(relay.kill)
        self.assertTrue(listening(port))
        with serial.serial_for_url("rfc2217://[::1]:%d" % port, baudrate=115200, timeout=5) as remote:
            remote.write(b"to\xff")
            self.assertEqual(os.read(self.master, 3), b"to\xff")
            os.write(self.master, b"fro\xff")
            self.assertEqual(remote.read(4), b"fro\xff")
            self.assertEqual(termios.tcgetattr(self.slave)[5], termios.B115200)
        relay.send_signal(2)
        self.assertEqual(relay.wait(5), 0)
        self.assertIn(b"varonet relay: 3 bytes A to B, 4 bytes B to A\n", relay.stderr.read())

    def test_send_and_receive_through_ser2net(self):
        files = {"a.bin": os.urandom(100000), "b.bin": bytes(range(256)) * 64}
        theirs, mine = (os.path.join(self.folder.name, n) for n in ("theirs", "mine"))
        for folder in (theirs, mine):
            os.mkdir(folder)
        for name, data in files.items():
            pathlib.Path(mine, name).write_bytes(data)
        rz, locator = self.zmodem_peer("rz", theirs)
        sent = subprocess.run([TOOL, "send", locator, *[os.path.join(mine, n) for n in files]],
                              capture_output=True, timeout=60)
        self.assertEqual((sent.returncode, rz.wait(30)), (0, 0), sent.stderr)
        os.remove(os.path.join(mine, "a.bin"))
        sz, locator = self.zmodem_peer("sz a.bin", theirs)
        received = subprocess.run([TOOL, "receive", locator, mine], capture_output=True, timeout=60)
        self.assertEqual((received.returncode, sz.wait(30)), (0, 0), received.stderr)
        for folder in (theirs, mine):
            for name, data in files.items():
                self.assertEqual(pathlib.Path(folder, name).read_bytes(), data, name)

    @unittest.skipUnless(ipv6(), "this machine has no IPv6 loopback address ::1")
    def test_t1_and_cat_through_ser2net_and_over_ipv6(self):
        echo = threading.Thread(target=lambda: os.write(self.master, os.read(self.master, 64)), daemon=True)
        echo.start()  # the node answers the frame with the frame
        t1 = subprocess.run([TOOL, "t1", self.ser2net(), "00A4040002"], capture_output=True, timeout=20)
        self.assertEqual((t1.returncode, t1.stdout), (0, b"00 A4 04 00 02\n"), t1.stderr)
        listener = socket.create_server(("::1", 0), family=socket.AF_INET6)
        threading.Thread(target=lambda: (lambda c: c.sendall(c.recv(100)))(listener.accept()[0]), daemon=True).start()
        cat = subprocess.run([TOOL, "cat", "tcpip:[::1]@%d" % listener.getsockname()[1]], input=b"six",
                             capture_output=True, timeout=20)
        self.assertEqual((cat.returncode, cat.stdout), (0, b"six"), cat.stderr)

    def test_term_on_a_remote_port(self):
        master, slave = os.openpty()
        term = subprocess.Popen([TOOL, "term", self.ser2net()], stdin=slave, stdout=slave, stderr=subprocess.PIPE)
        self.assertIn(b"Ctrl-] q quits", term.stderr.readline() + term.stderr.readline())
        os.write(master, b"AT\r")
        self.assertEqual(os.read(self.master, 3), b"AT\r")
        os.write(self.master, b"OK\xff")
        self.assertEqual(read_until(master, lambda got: len(got) >= 3), b"OK\xff")
        os.write(master, b"\x1du")  # the escape key, then "baud rate up": the served port follows
        rate = int(read_until(master, lambda got: got.endswith(b"\n")).split(b"baud rate ")[1].split()[0])
        self.assertEqual(termios.tcgetattr(self.slave)[5], getattr(termios, "B%d" % rate))
        os.write(master, b"\x1dq")
        self.assertEqual(term.wait(5), 0)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(warnings="ignore")
