"""varonet from Python: every device locator, ZMODEM, T=1 and the relay.

A locator such as ``serial:/dev/ttyUSB0@115200``, ``tcpip:host@5000`` or
``server:tcpip:4000`` names a byte stream; ``varonet.open`` gives it as a
file-like ``Device``. Failures raise ``varonet.Error`` (see varonet.errors).
Every call that waits lets other Python threads run, and Ctrl-C ends it
within about a second.
"""

import collections
import io

from . import _varonet
from .errors import Error, LocatorError, NoDeviceError, SystemCallError, TimeoutError

__version__ = _varonet.__version__
__all__ = ["open", "serve", "Device", "Server", "Relay", "parse", "Locator", "printer", "ports", "Port",
           "explain", "Error", "LocatorError", "NoDeviceError", "TimeoutError", "SystemCallError", "zmodem", "t1"]

explain = _varonet.explain


class Device(io.RawIOBase):
    """An open device: a file-like byte stream.

    Reads wait as ``timeout`` says (seconds; None waits as long as it takes, 0
    only takes what is there): ``read(n)`` returns n bytes, or fewer when the
    time-out passed or the stream ended; b"" means nothing came. One thread may
    read while another writes. Closing it (or leaving its ``with`` block)
    closes the device for good.
    """

    def __init__(self, device):
        super().__init__()
        self._device = device
        # The calls that move the data go straight to the extension.
        self.read, self.readinto = device.read, device.readinto

    @property
    def name(self):
        """The locator (for a server's caller: who called)."""
        return self._device.name

    @property
    def timeout(self):
        """Seconds a read waits; None for as long as it takes, 0 for no wait."""
        return self._device.timeout

    @timeout.setter
    def timeout(self, seconds):
        self._device.timeout = seconds

    @property
    def is_open(self):
        """False once closed or once the far end has ended the stream."""
        return self._device.is_open

    @property
    def in_waiting(self):
        """Bytes a read gets at once, without waiting."""
        return self._device.in_waiting

    def readable(self):
        return True

    def writable(self):
        return True

    def read(self, size=-1):
        """Up to size bytes (size < 0 or None: until the stream ends); fewer when the time-out passed."""
        return self._device.read(size)

    def readall(self):
        return self._device.read(-1)

    def readinto(self, buffer):
        """Fills buffer as read(len(buffer)) would; the count."""
        return self._device.readinto(buffer)

    def read_until(self, expected=b"\n", size=None):
        """Bytes up to and including expected; fewer when size bytes came first, the
        time-out passed or the stream ended. What came after expected is kept for the next read."""
        return self._device.read_until(bytes(expected), size)

    def readline(self, size=-1):
        return self._device.read_until(b"\n", size)

    def write(self, data):
        """Writes all of data (any bytes-like object); the count. Raises varonet.Error when the device fails."""
        return self._device.write(data)

    def flush(self):
        """Pushes written bytes out; a serial port waits until they have left."""
        self._device.flush()

    def close(self):
        """Closes the device; a read waiting in another thread ends."""
        if not self.closed:
            try:
                self._device.close()
            finally:
                super().close()

    def __repr__(self):
        return "<varonet.Device %r%s>" % (self.name, " closed" if self.closed else "")


def open(locator, timeout=None):
    """Resolves the locator and opens its device.

    A ``server:`` locator waits here for its caller and a ``modem:`` locator
    dials. ``timeout`` is the reads' time-out in seconds (see Device). Raises
    NoDeviceError (with the resolver's reason) for a locator that names no
    device, LocatorError for one that is not a locator, and varonet.Error with
    the library's code when the device does not open.
    """
    return Device(_varonet.open_device(locator, timeout))


class Server:
    """A ``server:`` locator's server: one Device per caller, from accept()."""

    def __init__(self, server):
        self._server = server

    @property
    def name(self):
        return self._server.name

    @property
    def port(self):
        """The TCP port it listens on (the one chosen for Port=0); None for other servers."""
        return self._server.port

    @property
    def closed(self):
        return self._server.closed

    def accept(self, timeout=None):
        """The next caller as an open Device; raises varonet.TimeoutError when
        nobody called within timeout seconds (None: wait as long as it takes)."""
        return Device(self._server.accept(timeout))

    def close(self):
        """Stops listening; an accept waiting in another thread ends."""
        self._server.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<varonet.Server %r%s>" % (self.name, " closed" if self.closed else "")


def serve(locator):
    """A server for a ``server:`` locator (``server:tcpip:4000``, ``server:domain:NAME``,
    ``server:modem:Device=...``), listening from now on."""
    return Server(_varonet.serve(locator))


class Relay:
    """Two devices relayed both ways, each side reopened whenever it closes.

    ``a`` and ``b`` are locators. ``observer`` (optional) is any object with
    some of these methods, called on the relay's threads with the locators of
    the side and of the other side: ``opened(side, other)`` once per open,
    ``dump(side, other, data)`` for each chunk read, ``closed(side, other)``,
    ``open_failed(side, other, error)`` with a varonet.Error, and
    ``dropped(side, other, count)``. By default a side reads only while the
    other side is open, so nothing is lost while it is down
    (``wait_for_receiver=False`` reads on and drops), and a side whose open
    failed is tried again after 0.1 s, then twice as long each time up to 1 s
    (``retry_pause=(first, most)`` in seconds; None retries at once).
    ``with Relay(...) as relay:`` starts it and stops it at the end.
    """

    def __init__(self, a, b, observer=None, *, wait_for_receiver=True, retry_pause=(0.1, 1.0)):
        self._relay = _varonet.Relay(a, b, observer, wait_for_receiver, retry_pause)

    @property
    def ports(self):
        """(port of a, port of b): the TCP port a server side listens on, None for other sides."""
        return self._relay.ports

    @property
    def running(self):
        return self._relay.running

    def start(self):
        """Starts relaying; a stopped relay does not start again."""
        self._relay.start()

    def stop(self):
        """Stops both sides within about a second and closes their devices."""
        self._relay.stop()

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()


class Locator(collections.namedtuple("Locator", "protocol target value options")):
    """A locator's parts: ``protocol:target[@value][:options]``.

    ``value`` is the text after "@" (the baud rate of a serial port, the port of
    a TCP host), None without one; ``options`` maps each option to its text (a
    bare word to "1"). ``str(locator)`` writes it back, escaping ":" and "@"
    in the target and values, so a nested locator (a modem's port) can be a target.
    """

    def __new__(cls, protocol, target="", value=None, options=None):
        return super().__new__(cls, protocol, target, value, dict(options or {}))

    def __str__(self):
        return _varonet.format_locator(self.protocol, self.target, self.value, self.options)


def parse(locator):
    """The parts of a locator as a Locator; raises LocatorError (code 9728) when
    the text has no protocol word and ":". A nested locator comes out as the
    target, ready for parse again."""
    return Locator(*_varonet.parse_locator(locator))


def printer(locator, raw=False):
    """The locator rendered for people, one line per element, as ``varonet
    print`` shows it (nested locators indented). ``raw`` keeps the printer's
    own markers. Raises LocatorError for a text that is not a locator."""
    printed = _varonet.print_locator(str(locator), raw)
    if printed is None:
        raise LocatorError("'%s' is not a locator (it has no protocol word and \":\")" % locator, 9728,
                           explain(9728))
    return printed


Port = collections.namedtuple("Port", "locator device by_id subsystem vendor_id product_id serial_number "
                                      "manufacturer description")
Port.__doc__ = """A serial port: its ready-to-use locator and what the system's device database says (None when unknown)."""


def ports(baud=115200):
    """The serial ports present, as ``varonet ports`` lists them: each a Port whose
    locator uses the stable /dev/serial/by-id name when there is one. No port is an empty list."""
    return [Port(*fields) for fields in _varonet.serial_ports(baud)]


from . import t1, zmodem  # noqa: E402  (they use Device from above)
