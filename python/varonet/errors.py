"""The exceptions of varonet. Every failure of the library is a varonet.Error."""

import builtins

__all__ = ["Error", "LocatorError", "NoDeviceError", "TimeoutError", "SystemCallError"]


class Error(Exception):
    """A failure of the library.

    ``str(error)`` is one line: what failed, the code and its meaning.
    ``code`` is the library's code (an errno value for a SystemCallError, None
    when the failure has none) and ``meaning`` what the code means: the text
    ``varonet explain CODE`` prints.
    """

    def __init__(self, message, code=None, meaning=None):
        super().__init__(message)
        self.code = code
        self.meaning = meaning


class LocatorError(Error, ValueError):
    """A text that is not a locator (code 9728) or one the resolver cannot use (9729)."""


class NoDeviceError(LocatorError):
    """The locator names no device (``none:``, a baud rate that is not listed);
    ``reason`` says why in the resolver's words."""

    @property
    def reason(self):
        return self.meaning


class TimeoutError(Error, builtins.TimeoutError):
    """A wait that ended before anything came (code 4100)."""


class SystemCallError(Error, OSError):
    """A failure of the operating system; ``code`` and ``errno`` are the errno value."""
