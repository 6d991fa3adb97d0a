# End-to-end tests of the varonet tool: the installed binary run as a user
# runs it, against real peers (a Python echo server, pseudo-terminals, lrzsz).
#   python3 ToolTest.py BINARY [unittest arguments]
import json
import os
import pathlib
import select
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

TOOL = None  # set from the command line


def run(*args, stdin=subprocess.DEVNULL, timeout=20, **kw):
    return subprocess.run([TOOL, *args], stdin=stdin, capture_output=True, timeout=timeout, **kw)


def pattern(count):
    return (bytes(range(251)) * (count // 251 + 1))[:count]


class EchoServer:
    """A TCP echo server on 127.0.0.1, serving each caller in a thread of its own."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            connection, _ = self.listener.accept()
            threading.Thread(target=self.echo, args=(connection,), daemon=True).start()

    @staticmethod
    def echo(connection):
        with connection:
            while data := connection.recv(1 << 16):
                connection.sendall(data)


def read_until(fd, wanted, seconds=5):
    got, end = b"", time.monotonic() + seconds
    while wanted not in got and time.monotonic() < end:
        if select.select([fd], [], [], 0.1)[0]:
            got += os.read(fd, 4096)
    return got


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class CommandLine(unittest.TestCase):
    def test_usage_and_failures_give_one_clear_line_and_the_documented_status(self):
        refused = free_port()
        rows = [  # arguments, exit status, text on standard error
            (["frob"], 2, "'frob' is not a subcommand"), (["cat", "--frob", "loopback:"], 2, "--frob"),
            (["cat"], 2, "locator is required"), (["term", "--enter", "xx", "loopback:"], 2, "--enter"),
            (["t1", "loopback:", "0G"], 2, "'0G' is not hex"),
            (["cat", "serial:ttyS0@1000000"], 1, "varonet cat: the locator 'serial:ttyS0@1000000' names no device"),
            (["cat", "bogus:x"], 1, "(code 9729 = 0x2601: unknown protocol word"),
            (["cat", "tcpip:127.0.0.1@%d" % refused], 1, "127.0.0.1:%d: Connection refused (errno 111)" % refused),
            (["cat", "file:/nonexistent/x@ro"], 1, "No such file or directory (errno 2)"),
            (["--log", "/nonexistent/x.log", "cat", "loopback:"], 1, "cannot open the log file /nonexistent/x.log"),
            (["print", "nothing"], 1, "'nothing' is not a locator"),
            (["relay", "none:", "loopback:"], 1, "the locator 'none:' names no device"),
        ]
        for args, status, text in rows:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(text, result.stderr.decode())
                if status == 1:
                    self.assertEqual(len(result.stderr.splitlines()), 1)

    def test_help_on_the_tool_and_every_subcommand_and_the_version(self):
        for sub in ["", "cat", "term", "send", "receive", "relay", "print", "ports", "t1", "explain", "demo"]:
            result = run(*([sub] if sub else []), "--help")
            self.assertEqual((result.returncode, b"Usage:" in result.stdout), (0, True), sub)
        self.assertRegex(run("--version").stdout.decode(), r"^varonet \d+\.\d+\.\d+")

    def test_explain_names_every_kind_of_code(self):
        result = run("explain", "1559", "0x2000000C", "9729", "3842", "-1")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode().splitlines(), [
            "1559 = 0x617: no modem answered the call (NO CARRIER)",
            "536870924 = 0x2000000C: ZMODEM: the receiver never answered, the file send did not start",
            "9729 = 0x2601: unknown protocol word, an option value the resolver cannot use, or a port outside 1..65535",
            "3842 = 0xF02: T=1: the node did not answer in time (recovery exhausted)",
            "-1: ZMODEM: a file could not be opened, read or written"])
        self.assertEqual(run("explain", "--errno", "111").stdout, b"111 = 0x6F: Connection refused\n")
        self.assertEqual(run("explain", "--capi", "0x3491").stdout, b"13457 = 0x3491: CAPI: the called party is busy\n")
        self.assertEqual(run("explain", "12345").returncode, 1)

    def test_print_renders_a_nested_modem_locator(self):
        locator = r"modem:serial\:COM1\@9600:Number=555,ConnectTimeout=60000"
        result = run("print", locator)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(result.stdout.decode(), "Protocol:              modem\n"
                                                 "Target:\n"
                                                 "  Protocol: serial\n"
                                                 "  Target:   COM1\n"
                                                 "  Baudrate: 9600\n"
                                                 "Connect time-out (ms): 60000\n"
                                                 "Number:                555\n")
        raw = run("print", "--raw", "--trace", locator)
        self.assertTrue(raw.stdout.decode().startswith("Protocol:\\#modem\nTarget:\\#\\h\n  Protocol:\\#serial\n"))
        self.assertIn(b"UDL : 'serial:COM1@9600'", raw.stderr)

    def test_ports_lists_locators_and_their_json(self):
        text, listed = run("ports"), run("ports", "--json", "--baud", "9600")
        self.assertEqual((text.returncode, listed.returncode), (0, 0))
        ports = json.loads(listed.stdout)
        self.assertIsInstance(ports, list)
        keys = {"locator", "device", "by_id", "subsystem", "vendor_id", "product_id", "serial_number",
                "manufacturer", "description"}
        for port in ports:
            self.assertEqual(set(port), keys)
            self.assertTrue(port["locator"].startswith("serial:") and port["locator"].endswith("@9600"))
        self.assertEqual(text.stdout.decode().count("serial:"), len(ports))
        if not ports:
            self.assertEqual((text.stdout, listed.stdout), (b"", b"[]\n"))
            self.assertIn(b"no serial ports found", text.stderr)


class Cat(unittest.TestCase):
    def test_cat_against_an_echo_server_is_byte_exact_and_dumps_with_offsets(self):
        peer = EchoServer()
        data = os.urandom(1 << 20)
        result = run("cat", "tcpip:127.0.0.1@%d" % peer.port, input=data, stdin=None)
        self.assertEqual((result.returncode, result.stdout == data), (0, True), result.stderr)
        dumped = run("cat", "-x", "tcpip:127.0.0.1@%d" % peer.port, input=b"hello", stdin=None)
        self.assertEqual(dumped.stdout, b"hello")
        self.assertEqual(dumped.stderr.decode().splitlines(), [
            "> 00000000  68 65 6c 6c 6f" + " " * 35 + "hello",
            "< 00000000  68 65 6c 6c 6f" + " " * 35 + "hello"])

    def test_cat_over_a_pty_both_ways_and_a_text_dump(self):
        master, slave = os.openpty()
        process = subprocess.Popen([TOOL, "cat", "-v", "--linger", "200", "serial:%s@9600" % os.ttyname(slave)],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.stdin.write(b"ping\r\n")
        process.stdin.flush()
        self.assertEqual(read_until(master, b"ping\r\n"), b"ping\r\n")
        os.write(master, b"pong\n")
        self.assertEqual(read_until(process.stdout.fileno(), b"pong\n"), b"pong\n")
        process.stdin.close()
        self.assertEqual(process.wait(5), 0)
        self.assertEqual(process.stderr.read().decode(), "> 00000000  ping\\r\\n\n< 00000000  pong\\n\n")


class T1(unittest.TestCase):
    def test_t1_frames_and_a_silent_node(self):
        # The in-memory loopback hands every block back, so each frame comes back as its own answer.
        result = run("t1", "loopback:", "00A40400", "90 00")
        self.assertEqual((result.returncode, result.stdout), (0, b"00 A4 04 00\n90 00\n"))
        master, slave = os.openpty()
        silent = run("t1", "--bwt", "20", "serial:%s@9600" % os.ttyname(slave), "01")
        self.assertEqual(silent.returncode, 1)
        self.assertEqual(silent.stderr, b"varonet t1: frame 1 (01): T=1: the node did not answer in time "
                                        b"(recovery exhausted) (code 3842 = 0xF02)\n")


class Term(unittest.TestCase):
    def start(self, *args):
        self.master, self.slave = os.openpty()
        self.modes = termios.tcgetattr(self.slave)
        return subprocess.Popen([TOOL, "term", *args], stdin=self.slave, stdout=self.slave, stderr=subprocess.PIPE)

    def test_keys_go_to_the_device_and_the_escape_key_restores_the_terminal(self):
        process = self.start("--enter", "crlf", "loopback:")
        self.assertIn(b"Ctrl-] quits", process.stderr.readline() + process.stderr.readline())
        self.assertEqual(termios.tcgetattr(self.slave)[3] & (termios.ICANON | termios.ECHO | termios.ISIG), 0)
        os.write(self.master, b"AT\r\x03")  # Ctrl-C is a key like any other
        self.assertEqual(read_until(self.master, b"AT\r\n\x03"), b"AT\r\n\x03")
        os.write(self.master, b"\x1d")
        self.assertEqual(process.wait(5), 0)
        self.assertEqual(termios.tcgetattr(self.slave), self.modes)

    def test_sigterm_while_waiting_for_a_caller_restores_the_terminal(self):
        process = self.start("server:tcpip:%d" % free_port())
        self.assertIn(b"opening server:tcpip:", process.stderr.readline())
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(2), 1)
        self.assertIn(b"stopped while opening", process.stderr.read())
        self.assertEqual(termios.tcgetattr(self.slave), self.modes)


class ZmodemPeer:
    """lrzsz's sz or rz on the far end of a TCP connection that the tool makes."""

    def __init__(self, folder, *command):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.locator = "tcpip:127.0.0.1@%d" % self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, args=(folder, command))
        self.thread.start()

    def serve(self, folder, command):
        connection, _ = self.listener.accept()
        with connection:
            self.result = subprocess.run(command, stdin=connection, stdout=connection, stderr=subprocess.DEVNULL,
                                         cwd=folder, timeout=30)

    def join(self):
        self.thread.join(30)
        self.listener.close()
        return self.result.returncode


class Transfer(unittest.TestCase):
    def setUp(self):
        self.addCleanup(os.umask, os.umask(0o022))
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.mine, self.theirs = (os.path.join(self.folder.name, n) for n in ("mine", "theirs"))
        for folder in (self.mine, self.theirs):
            os.mkdir(folder)
        self.files = {"a.bin": os.urandom(300000), "b.txt": b"hello\n" * 1000, "c.bin": bytes(range(256)) * 4}

    def write(self, folder, files):
        for name, data in files.items():
            pathlib.Path(folder, name).write_bytes(data)

    def read(self, folder, name):
        return pathlib.Path(folder, name).read_bytes()

    def test_send_to_rz_several_files_in_one_session(self):
        self.write(self.mine, {**self.files, "d.txt": b"new"})
        self.write(self.theirs, {"d.txt": b"old"})  # rz keeps a file it has
        os.chmod(os.path.join(self.mine, "a.bin"), 0o751)
        os.utime(os.path.join(self.mine, "a.bin"), (1557126489, 1557126489))
        peer = ZmodemPeer(self.theirs, "rz")
        result = run("send", peer.locator, *[os.path.join(self.mine, n) for n in ["a.bin", "b.txt", "missing",
                                                                                  "c.bin", "d.txt"]])
        self.assertEqual((peer.join(), result.returncode), (0, 1))
        for name, data in self.files.items():
            self.assertEqual(self.read(self.theirs, name), data, name)
        got = os.stat(os.path.join(self.theirs, "a.bin"))  # the offer carried time and mode
        self.assertEqual((got.st_mtime, got.st_mode & 0o777), (1557126489, 0o751))
        lines = result.stderr.decode().splitlines()
        self.assertEqual(lines[0], "failed missing: No such file or directory")
        self.assertEqual([line.split(" (")[0] for line in lines[1:]],
                         ["sent a.bin", "sent b.txt", "sent c.bin", "skipped d.txt: the receiver has it already"])

    def test_receive_from_sz_keeps_existing_files_and_reports_a_failed_one(self):
        self.write(self.theirs, {**self.files, "d.txt": b"new and longer", "e.txt": b"e"})
        self.write(self.mine, {"d.txt": b"old"})  # never spliced with the offered file
        os.mkdir(os.path.join(self.mine, "e.txt"))
        peer = ZmodemPeer(self.theirs, "sz", "a.bin", "b.txt", "c.bin", "d.txt")
        result = run("receive", peer.locator, self.mine)
        self.assertEqual((peer.join(), result.returncode), (0, 0), result.stderr)
        for name, data in {**self.files, "d.txt": b"old"}.items():
            self.assertEqual(self.read(self.mine, name), data, name)
        self.assertEqual([line.split(" (")[0] for line in result.stderr.decode().splitlines()],
                         ["received a.bin", "received b.txt", "received c.bin",
                          "skipped d.txt: a file of that name is there already"])
        peer = ZmodemPeer(self.theirs, "sz", "e.txt")
        result = run("receive", "--overwrite", peer.locator, self.mine)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, b"failed e.txt: ZMODEM: a file could not be opened, read or written "
                                        b"(code -1)\n")
        peer.join()

    def test_receive_honours_sz_y_and_keeps_the_senders_time_and_mode(self):
        self.write(self.theirs, {"d.txt": b"new and longer"})
        os.chmod(os.path.join(self.theirs, "d.txt"), 0o4777)
        os.utime(os.path.join(self.theirs, "d.txt"), (1557126489, 1557126489))
        self.write(self.mine, {"d.txt": b"old"})  # 0644: a file that was there never gains permissions
        peer = ZmodemPeer(self.theirs, "sz", "-y", "d.txt")
        result = run("receive", "--quiet", peer.locator, self.mine)
        got = os.stat(os.path.join(self.mine, "d.txt"))
        self.assertEqual((peer.join(), result.returncode, result.stderr, got.st_mtime, got.st_mode & 0o7777,
                          self.read(self.mine, "d.txt")), (0, 0, b"", 1557126489, 0o644, b"new and longer"))

    def test_receive_into_a_folder_it_cannot_write(self):
        for folder, reason in [("/proc", "cannot receive into /proc: "), ("/nonexistent", "not a folder")]:
            result = run("receive", "loopback:", folder)
            self.assertEqual(result.returncode, 1)
            self.assertIn(reason, result.stderr.decode())

    def test_demo_sends_its_sample_over_a_virtual_cable(self):
        result = run("demo", "--size", "100000")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.decode().splitlines()[-1],
                         "The copy is byte-identical to the sample (100000 bytes).")


class Relay(unittest.TestCase):
    def client(self, port, count):
        data = pattern(count)
        with socket.create_connection(("127.0.0.1", port), timeout=20) as connection:
            threading.Thread(target=connection.sendall, args=(data,), daemon=True).start()
            return connection.makefile("rb").read(count) == data

    def connect_when_listening(self, port, count):
        for _ in range(100):
            try:
                return self.client(port, count)
            except ConnectionRefusedError:
                time.sleep(0.05)
        self.fail("the relay never listened")

    def test_relay_serves_two_callers_in_turn_and_stops_promptly_on_sigterm(self):
        peer, port = EchoServer(), free_port()
        relay = subprocess.Popen([TOOL, "relay", "server:tcpip:%d" % port, "tcpip:127.0.0.1@%d" % peer.port],
                                 stderr=subprocess.PIPE)
        try:
            self.assertTrue(self.connect_when_listening(port, 10 << 20))
            self.assertTrue(self.client(port, 1000))  # a second caller, after the first left
            started = time.monotonic()
            relay.send_signal(signal.SIGTERM)
            self.assertEqual(relay.wait(5), 0)
            self.assertLess(time.monotonic() - started, 1.5)
            self.assertEqual(relay.stderr.read().decode(),
                             "varonet relay: %d bytes A to B, %d bytes B to A\n" % (((10 << 20) + 1000,) * 2))
        finally:
            relay.kill()

    def test_relay_once_ends_when_the_caller_leaves(self):
        port = free_port()
        relay = subprocess.Popen([TOOL, "relay", "--once", "-v", "server:tcpip:%d" % port, "loopback:"],
                                 stderr=subprocess.PIPE)
        self.assertTrue(self.connect_when_listening(port, 3))
        self.assertEqual(relay.wait(5), 0)
        lines = relay.stderr.read().decode().splitlines()
        self.assertIn("> 00000000  \\x00\\x01\\x02", lines)
        self.assertIn("varonet relay: server:tcpip:%d closed" % port, lines)
        self.assertEqual(lines[-1], "varonet relay: 3 bytes A to B, 3 bytes B to A")


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(warnings="ignore")
