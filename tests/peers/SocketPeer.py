# A foreign TCP peer for the socket tests: plain Python sockets, no varonet code.
#
#   SocketPeer.py echo-server           echoes each connection until it closes
#   SocketPeer.py greet-close-server    sends b"bye" to each caller, then closes
#   SocketPeer.py client PORT COUNT     sends COUNT pattern bytes to 127.0.0.1:PORT,
#                                       reads them back, prints OK or BAD
# A server prints "READY <port>" once it listens on 127.0.0.1.
import socket
import sys
import threading


def pattern(count):
    # Period 251 (a prime), so a lost, doubled or reordered chunk shows up.
    block = bytes(range(251))
    return (block * (count // 251 + 1))[:count]


def serve(handler):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("READY", listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        with connection:
            handler(connection)


def echo(connection):
    while True:
        data = connection.recv(65536)
        if not data:
            return
        connection.sendall(data)


def greet_close(connection):
    connection.sendall(b"bye")


def client(port, count):
    data = pattern(count)
    connection = socket.create_connection(("127.0.0.1", port), timeout=20)

    def send():
        connection.sendall(data)
        connection.shutdown(socket.SHUT_WR)

    sender = threading.Thread(target=send)
    sender.start()
    chunks = []
    while True:
        chunk = connection.recv(65536)
        if not chunk:
            break
        chunks.append(chunk)
    sender.join()
    print("OK" if b"".join(chunks) == data else "BAD", flush=True)


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "echo-server":
        serve(echo)
    elif mode == "greet-close-server":
        serve(greet_close)
    elif mode == "client":
        client(int(sys.argv[2]), int(sys.argv[3]))
    else:
        sys.exit("unknown mode " + mode)
