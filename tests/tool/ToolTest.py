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
            (["cat", "bogus:x"], 1, "'bogus:x' (code 9729 = 0x2601: the resolver cannot use the locator)"),
            (["cat", "nocolon"], 1, "(code 9728 = 0x2600"), (["cat", "file:/@ro"], 1, "Is a directory (errno 21)"),
            (["print", "none:"], 1, "'none:' names no device: none: names no device"),
            (["demo", "--size", "99999999999"], 2, "varonet: --size: Value 99999999999 not in range"),
            (["demo", "--keep", "/nonexistent/x"], 1, "cannot make the folder /nonexistent/x: No such file"),
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
                self.assertEqual(len(result.stderr.splitlines()), 1)
                self.assertTrue(status == 1 or result.stderr.startswith(b"varonet: "))
        self.assertFalse(os.path.exists("/nonexistent"))

    def test_help_on_the_tool_and_every_subcommand_and_the_version(self):
        for sub in ["", "cat", "term", "send", "receive", "relay", "print", "ports", "t1", "explain", "demo"]:
            result = run(*([sub] if sub else []), "--help")
            self.assertEqual((result.returncode, b"Usage:" in result.stdout), (0, True), sub)
        self.assertRegex(run("--version").stdout.decode(), r"^varonet \d+\.\d+\.\d+")

    def test_the_man_page_and_the_bash_completion_are_installed_and_work(self):
        prefix = pathlib.Path(TOOL).parent.parent
        page = (prefix / "share/man/man1/varonet.1").read_text()
        self.assertIn(".SS varonet relay", page)
        script = ("source /usr/share/bash-completion/bash_completion; source %s; COMP_WORDS=(%s relay --d); "
                  "COMP_CWORD=2; COMP_LINE='varonet relay --d'; COMP_POINT=${#COMP_LINE}; _varonet; echo ${COMPREPLY[@]}")
        completed = subprocess.run(["bash", "-c", script % (prefix / "share/bash-completion/completions/varonet", TOOL)],
                                   capture_output=True, timeout=20)
        self.assertEqual(completed.stdout, b"--drop\n")

    def test_explain_names_every_kind_of_code(self):
        result = run("explain", "1559", "0x2000000C", "9729", "3842", "-1")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode().splitlines(), [
            "1559 = 0x617: no modem answered the call (NO CARRIER)",
            "536870924 = 0x2000000C: ZMODEM: the receiver never answered, the file send did not start",
            "9729 = 0x2601: the resolver cannot use the locator",
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
                                                 "  Protocol:  serial\n"
                                                 "  Target:    COM1\n"
                                                 "  Baud rate: 9600\n"
                                                 "Connect time-out (ms): 60000\n"
                                                 "Number:                555\n")
        self.assertIn(b"\nPort:     7\n", run("print", "tcpip:localhost@7").stdout)
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

    def test_cat_over_a_pty_both_ways_a_text_dump_and_a_session_log_with_timestamps(self):
        master, slave = os.openpty()
        log = tempfile.NamedTemporaryFile()
        process = subprocess.Popen([TOOL, "cat", "-v", "--linger", "200", "--log-file", log.name, "--timestamps",
                                    "serial:%s@9600" % os.ttyname(slave)],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.stdin.write(b"ping\r\n")
        process.stdin.flush()
        self.assertEqual(read_until(master, b"ping\r\n"), b"ping\r\n")
        os.write(master, b"pong\n")
        self.assertEqual(read_until(process.stdout.fileno(), b"pong\n"), b"pong\n")
        process.stdin.close()
        self.assertEqual(process.wait(5), 0)
        self.assertEqual(process.stderr.read().decode(), "> 00000000  ping\\r\\n\n< 00000000  pong\\n\n")
        self.assertRegex(log.read().decode(), r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] pong\n$")


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
        process = subprocess.Popen([TOOL, "term", *args], stdin=self.slave, stdout=self.slave, stderr=subprocess.PIPE)
        self.addCleanup(process.kill)
        return process

    def command(self, keys, answer):
        os.write(self.master, b"\x1d" + keys)
        self.assertIn(answer, read_until(self.master, answer))

    def test_keys_go_to_the_device_and_the_escape_key_restores_the_terminal(self):
        process = self.start("--enter", "crlf", "loopback:")
        self.assertIn(b"Ctrl-] q quits, Ctrl-] ? lists commands", process.stderr.readline() + process.stderr.readline())
        self.assertEqual(termios.tcgetattr(self.slave)[3] & (termios.ICANON | termios.ECHO | termios.ISIG), 0)
        os.write(self.master, b"AT\r\x03\x1d\x1d")  # Ctrl-C is a key like any other; the escape key twice sends it
        self.assertEqual(read_until(self.master, b"AT\r\n\x03\x1d"), b"AT\r\n\x03\x1d")
        self.command(b"b", b"\r\n*** not a serial port")
        os.write(self.master, b"\x1dq")
        self.assertEqual(process.wait(5), 0)
        self.assertEqual(process.stderr.read(), b"varonet term: disconnected from loopback:\r\n")
        self.assertEqual(termios.tcgetattr(self.slave), self.modes)

    def test_escape_commands_reach_the_serial_port_and_a_hang_up_is_told_at_once(self):
        port, device = os.openpty()
        locator = "serial:%s@9600" % os.ttyname(device)
        process = self.start(locator)
        self.assertIn(b"quits", process.stderr.readline() + process.stderr.readline())
        self.command(b"u", b"*** baud rate 19200\r\n")
        self.assertEqual(termios.tcgetattr(device)[4:6], [termios.B19200] * 2)
        self.command(b"d", b"*** baud rate 9600\r\n")
        self.command(b"f", b"*** flow control hardware\r\n")
        self.assertTrue(termios.tcgetattr(device)[2] & termios.CRTSCTS)
        for keys, answer in [(b"t", b"DTR off"), (b"r", b"RTS off"), (b"l", b"no modem lines"),
                             (b"b", b"break"), (b"?", b"l  show the modem lines")]:
            self.command(keys, answer)
        os.write(port, b"partial")
        read_until(self.master, b"partial")
        os.close(port)
        self.assertEqual(process.wait(2), 0)
        self.assertEqual(process.stderr.read().decode(), "\r\nvaronet term: %s hung up\r\n" % locator)

    def test_sigterm_while_waiting_for_a_caller_restores_the_terminal(self):
        process = self.start("server:tcpip:%d" % free_port())
        self.assertIn(b"opening server:tcpip:", process.stderr.readline())
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(2), 1)
        self.assertIn(b"stopped while opening", process.stderr.read())
        self.assertEqual(termios.tcgetattr(self.slave), self.modes)


class Modem(unittest.TestCase):
    def test_cat_and_term_over_a_modem(self):
        peer = subprocess.Popen([os.environ["VARONET_MODEM_PEER"]], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(peer.wait, 5)
        self.addCleanup(peer.stdin.close)
        locator = r"modem:serial\:%s\@115200:Number=555" % peer.stdout.readline().decode().strip()
        result = run("cat", "--linger", "300", locator, input=b"ping", stdin=None)
        self.assertEqual((result.returncode, result.stdout), (0, b"ping"), result.stderr)
        term = Term()
        process = term.start(locator)
        self.assertIn(b"quits", process.stderr.readline() + process.stderr.readline())
        os.write(term.master, b"hello")
        self.assertEqual(read_until(term.master, b"hello"), b"hello")
        os.write(term.master, b"\x1db")
        self.assertIn(b"not a serial port", read_until(term.master, b"port"))
        os.write(term.master, b"\x1dq")
        self.assertEqual(process.wait(10), 0)
        term.doCleanups()


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
    def start(self, *args):
        """Starts a relay whose side A is server:tcpip:Port=0; the port it listens on."""
        self.relay = subprocess.Popen([TOOL, "relay", *args[:-1], "server:tcpip:Port=0", args[-1]],
                                      stderr=subprocess.PIPE, bufsize=0)
        self.addCleanup(self.relay.kill)
        self.said = []
        return int(self.wait_line("listening on").split(":")[-1].split()[0])

    def wait_line(self, text, seconds=5):
        """The first line of the relay's standard error that holds text (lines before it are kept)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end and select.select([self.relay.stderr], [], [], end - time.monotonic())[0]:
            self.said.append(self.relay.stderr.readline().decode().rstrip("\n"))
            if text in self.said[-1]:
                return self.said[-1]
        self.fail("the relay never said %r; it said %r" % (text, self.said))

    def stop(self, sig=signal.SIGTERM):
        started = time.monotonic()
        self.relay.send_signal(sig)
        self.assertEqual(self.relay.wait(5), 0)
        self.assertLess(time.monotonic() - started, 1.5)
        return self.said + self.relay.stderr.read().decode().splitlines()

    def client(self, port, count):
        data = pattern(count)
        with socket.create_connection(("127.0.0.1", port), timeout=20) as connection:
            threading.Thread(target=connection.sendall, args=(data,), daemon=True).start()
            return connection.makefile("rb").read(count) == data

    def test_relay_serves_two_callers_in_turn_and_says_where_it_listens_and_who_called(self):
        peer = EchoServer()
        port = self.start("tcpip:127.0.0.1@%d" % peer.port)
        self.assertTrue(self.said[0].endswith("server:tcpip:Port=0 listening on [::]:%d (all interfaces)" % port))
        self.assertTrue(self.client(port, 10 << 20))
        with socket.create_connection(("127.0.0.1", port)) as caller:
            self.wait_line("server:tcpip:Port=0: caller 127.0.0.1:%d" % caller.getsockname()[1])
            with socket.create_connection(("127.0.0.1", port)) as extra:  # told no while one is served
                extra.sendall(b"extra")
                self.assertRaises(ConnectionResetError, extra.recv, 1)
            caller.sendall(b"x")
            self.assertEqual(caller.recv(1), b"x")
        self.assertEqual(self.stop(signal.SIGINT)[-1],
                         "varonet relay: %d bytes A to B, %d bytes B to A" % (((10 << 20) + 1,) * 2))

    def test_relay_share_lets_several_callers_in_with_output_to_all_and_input_merged(self):
        port = self.start("--share", "loopback:")
        callers = [socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(3)]
        self.wait_line("caller")
        for i, caller in enumerate(callers):
            caller.sendall(b"%d;" % i)  # the loopback sends it back: to every caller
            self.assertEqual([c.recv(2) for c in callers], [b"%d;" % i] * 3)
        callers.pop(0).close()  # the first caller leaves: the others go on
        callers[1].sendall(b"x;")
        self.assertEqual([c.recv(2) for c in callers], [b"x;"] * 2)
        callers.pop(1).close()  # and so does one of the others
        callers[0].sendall(b"y;")
        self.assertEqual(callers[0].recv(2), b"y;")
        self.assertEqual(self.stop()[-1], "varonet relay: 10 bytes A to B, 10 bytes B to A")

    def test_relay_ends_promptly_on_a_signal_in_every_state(self):
        for state in ["no caller", "caller connected", "caller gone, the far end speaks", "a side retrying",
                      "a side that never opens"]:
            with self.subTest(state=state):
                far = socket.create_server(("127.0.0.1", 0))
                b = {"a side retrying": "tcpip:127.0.0.1@%d" % free_port(),
                     "a side that never opens": "serial:/dev/nonexistent@9600"}.get(
                    state, "tcpip:127.0.0.1@%d" % far.getsockname()[1])
                port = self.start("-v", b)
                if "caller" in state:
                    caller = socket.create_connection(("127.0.0.1", port))
                    self.wait_line("caller 127.0.0.1")
                    far_end = far.accept()[0]
                    if "gone" in state:
                        caller.close()
                        self.wait_line("closed")
                        far_end.sendall(b"late")  # read and written while the server side waits for a caller
                elif state != "no caller":
                    self.wait_line("cannot open " + b)
                lines = self.stop(signal.SIGTERM if len(state) % 2 else signal.SIGINT)
                self.assertEqual(sum("cannot open" in line for line in lines), 0 if "caller" in state else 1)
                self.assertRegex(lines[-1], "^varonet relay: 0 bytes A to B, 0 bytes B to A")
                far.close()

    def test_relay_delivers_what_a_caller_sent_before_the_other_side_opened_or_drops_it_only_when_asked(self):
        for drop in [False, True]:
            with self.subTest(drop=drop):
                back = free_port()
                port = self.start(*(["--drop"] if drop else []), "-v", "tcpip:127.0.0.1@%d" % back)
                caller = socket.create_connection(("127.0.0.1", port))
                caller.sendall(b"early-bytes;")
                self.wait_line("dropped" if drop else "cannot open")
                with socket.create_server(("127.0.0.1", back)) as listener:
                    far = listener.accept()[0]
                    far.settimeout(5)
                    self.wait_line("%d is open" % back)
                    caller.sendall(b"more" if drop else b"")
                    self.assertEqual(far.recv(100), b"more" if drop else b"early-bytes;")
                    far.close()
                caller.close()
                counts = "4 bytes A to B, 0 bytes B to A; dropped 12 bytes A to B, 0" if drop else "12 bytes A to B, 0"
                self.assertIn(counts, self.stop()[-1])

    def test_relay_once_ends_when_the_caller_leaves(self):
        port = self.start("--once", "-v", "loopback:")
        self.assertTrue(self.client(port, 3))
        self.assertEqual(self.relay.wait(5), 0)
        lines = self.relay.stderr.read().decode().splitlines()
        self.assertIn("> 00000000  \\x00\\x01\\x02", lines)
        self.assertIn("varonet relay: server:tcpip:Port=0 closed", lines)
        self.assertEqual(lines[-1], "varonet relay: 3 bytes A to B, 3 bytes B to A")

    def test_relay_waiting_for_a_serial_caller_stops_promptly_on_sigterm(self):
        _, slave = os.openpty()  # no ConnectTimeout: the serial side waits for its first byte
        relay = subprocess.Popen([TOOL, "relay", "-v", "server:serial:Device=serial\\:%s\\@9600" % os.ttyname(slave),
                                  "loopback:"], stderr=subprocess.PIPE)
        self.assertEqual(relay.stderr.readline(), b"varonet relay: loopback: is open\n")
        started = time.monotonic()
        relay.send_signal(signal.SIGTERM)
        self.assertEqual(relay.wait(5), 0)
        self.assertLess(time.monotonic() - started, 1.5)
        self.assertEqual(relay.stderr.read(), b"varonet relay: 0 bytes A to B, 0 bytes B to A\n")


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(warnings="ignore")
