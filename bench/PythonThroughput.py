"""The Python module against plain Python sockets and against the varonet tool.

    PYTHONPATH=build/python /usr/bin/python3 bench/PythonThroughput.py \\
        [--gib 1] [--sizes 4096,65536,1048576] [--zmodem-mib 64] [--tool build/tool/varonet] [--runs 3]

1. Stream: a producer process sends N GiB over TCP on 127.0.0.1 as fast as it
   can; the reader under test connects and reads to the end with one buffer
   size: a plain socket (recv, recv_into) or a device of
   varonet.open("tcpip:...") (read, readinto). The readers take turns in each
   run; MB/s and the reader's CPU time per GiB (user + system, which other
   work on the machine disturbs less than the rate), medians of the runs.
2. ZMODEM: one file sent to lrzsz's rz over TCP, from Python
   (varonet.zmodem.send) and by the tool (varonet send), in turns. Seconds,
   the median of the runs (the best in brackets).
"""

import argparse
import os
import statistics
import socket
import subprocess
import sys
import tempfile
import threading
import time

import varonet

# The producer hands the kernel a file with sendfile, so that it outruns every reader.
PRODUCER = """
import socket, sys, tempfile
with tempfile.TemporaryFile() as sample, socket.create_server(("127.0.0.1", 0)) as listener:
    sample.write(bytes(range(256)) * 4096 * 16)
    print(listener.getsockname()[1], flush=True)
    connection, _ = listener.accept()
    with connection:
        for _ in range(int(sys.argv[1]) // 16):
            connection.sendfile(sample, 0)
"""


def socket_recv(port, size):
    got = 0
    with socket.create_connection(("127.0.0.1", port)) as connection:
        while data := connection.recv(size):
            got += len(data)
    return got


def socket_recv_into(port, size):
    buffer, got = bytearray(size), 0
    with socket.create_connection(("127.0.0.1", port)) as connection:
        while n := connection.recv_into(buffer):
            got += n
    return got


def varonet_read(port, size):
    got = 0
    with varonet.open("tcpip:127.0.0.1@%d" % port) as device:
        while data := device.read(size):
            got += len(data)
    return got


def varonet_readinto(port, size):
    buffer, got = bytearray(size), 0
    with varonet.open("tcpip:127.0.0.1@%d" % port) as device:
        while n := device.readinto(buffer):
            got += n
    return got


def stream(reader, mib, size):
    """(MB/s, CPU seconds per GiB) of reader(port, size) over a producer's mib MiB."""
    producer = subprocess.Popen([sys.executable, "-c", PRODUCER, str(mib)], stdout=subprocess.PIPE)
    port = int(producer.stdout.readline())
    started, cpu = time.perf_counter(), time.process_time()
    got = reader(port, size)
    seconds, cpu = time.perf_counter() - started, time.process_time() - cpu
    producer.wait()
    if got != mib << 20:
        raise SystemExit("%s read %d bytes of %d" % (reader.__name__, got, mib << 20))
    return got / seconds / 1e6, cpu / (got / (1 << 30))


def rz_peer(folder):
    """A TCP port whose one caller meets rz in folder; the thread that runs it."""
    listener = socket.create_server(("127.0.0.1", 0))

    def serve():
        connection, _ = listener.accept()
        with connection:
            subprocess.run(["rz", "-y"], stdin=connection, stdout=connection, stderr=subprocess.DEVNULL, cwd=folder)
        listener.close()

    thread = threading.Thread(target=serve)
    thread.start()
    return listener.getsockname()[1], thread


def zmodem_python(path, folder, _tool):
    port, peer = rz_peer(folder)
    with varonet.open("tcpip:127.0.0.1@%d" % port) as device:
        result = varonet.zmodem.send(device, [path], progress=lambda p: None)
    peer.join()
    return result[0].outcome == varonet.zmodem.Outcome.SENT


def zmodem_tool(path, folder, tool):
    port, peer = rz_peer(folder)
    done = subprocess.run([tool, "send", "tcpip:127.0.0.1@%d" % port, path], capture_output=True)
    peer.join()
    return done.returncode == 0


def medians(runs, measures):
    """Each measure (giving a tuple) in turn, runs times; per measure the median of each figure."""
    values = [[] for _ in measures]
    for _ in range(runs):
        for cell, measure in zip(values, measures):
            cell.append(measure())
    return [[statistics.median(figures) for figures in zip(*cell)] for cell in values]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--gib", type=float, default=1)
    parser.add_argument("--sizes", default="4096,65536,1048576")
    parser.add_argument("--zmodem-mib", type=int, default=64)
    parser.add_argument("--tool", default="build/tool/varonet")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    mib = int(args.gib * 1024) // 16 * 16

    print("| buffer | socket recv | varonet read | socket recv_into | varonet readinto |")
    print("|---:|---:|---:|---:|---:|")
    for size in [int(s) for s in args.sizes.split(",")]:
        readers = (socket_recv, varonet_read, socket_recv_into, varonet_readinto)
        cells = medians(args.runs, [lambda r=r: stream(r, mib, size) for r in readers])
        print("| %d | %s |" % (size, " | ".join("%.0f MB/s, %.2f s CPU/GiB" % tuple(c) for c in cells)))

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "sample.bin")
        with open(path, "wb") as f:
            f.write(os.urandom(args.zmodem_mib << 20))
        received = os.path.join(folder, "in")
        os.makedirs(received)

        def once(send):
            started = time.perf_counter()
            if not send(path, received, args.tool):
                raise SystemExit(send.__name__ + " failed")
            seconds = time.perf_counter() - started
            os.remove(os.path.join(received, "sample.bin"))
            return seconds

        cells = medians(args.runs, [lambda: (once(zmodem_python),), lambda: (once(zmodem_tool),)])
        print("\n| ZMODEM send of %d MiB to rz | varonet.zmodem.send | varonet send (the tool) |" % args.zmodem_mib)
        print("|---|---:|---:|\n| seconds (median) | %.2f | %.2f |" % (cells[0][0], cells[1][0]))

if __name__ == "__main__":
    main()
