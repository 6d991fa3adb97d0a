"""ZMODEM file transfer over any varonet device, against lrzsz's sz and rz or another varonet.

A session runs on a thread of its own while the calling thread hands
``progress`` its reports, so a slow callback never holds up the transfer:
reports are coalesced (the latest position of a file, and every start and
end). Ctrl-C, or an exception raised by the callback, cancels the session.
"""

import collections
import os

from . import _varonet

__all__ = ["send", "receive", "FileResult", "Progress", "Outcome", "ExistingFile"]

Outcome = _varonet.Outcome
ExistingFile = _varonet.ExistingFile

FileResult = collections.namedtuple("FileResult", "name outcome code size bytes")
FileResult.__doc__ = """How a file of a session ended: outcome is an Outcome, code 0 unless it
failed (then a code of the library: varonet.explain(code) says what it means), size
the size offered and bytes the file position reached."""

Progress = collections.namedtuple("Progress", "name bytes size outcome")
Progress.__doc__ = """A progress report: the file position reached of size bytes; outcome is
None while the file is running and an Outcome at its end."""


def _reporter(progress):
    return None if progress is None else lambda *fields: progress(Progress(*fields))


def send(device, files, *, progress=None, window=1 << 20, full_offer=True):
    """Sends files (a path or a list of paths) over an open device in one session; a FileResult per file.

    As the varonet tool's send does, it streams: up to ``window`` bytes go out
    ahead of the receiver's acknowledgement (fewer after damage on the line),
    and each file is offered with its size, modification time and mode, which
    rz gives the file it writes. ``window=0`` waits for the acknowledgement of
    every 1 KiB subpacket and ``full_offer=False`` offers name and size alone:
    the library's classic session.
    A file that cannot be read fails on its own and the session goes on. Raises
    varonet.Error with the session's code when the session itself failed (no
    receiver answered, the peer cancelled).
    """
    if isinstance(files, (str, bytes, os.PathLike)):
        files = [files]  # one file, not the letters of its name
    paths = [os.path.abspath(os.fsdecode(f)) for f in files]
    settings = {"window": window, "full_offer": full_offer}
    return [FileResult(*r) for r in _varonet.zmodem_send(device, paths, _reporter(progress), settings)]


def receive(device, folder=".", *, policy=ExistingFile.KEEP, progress=None, minutes=10, keep_time_and_mode=True):
    """Receives files over an open device into folder; a FileResult per file offered.

    Waits for the sender to start for up to ``minutes`` (whole minutes).
    ``policy`` says what happens to a file of the offered name that is there
    already: KEEP (the default, as the varonet tool does) keeps it and reports
    the file skipped unless the sender asks to resume or replace it; RESUME
    continues a shorter file; OVERWRITE; RENAME receives beside it. Files are
    never written outside folder. As the tool's receive does, a file gets the
    modification time and mode its offer carries (never setuid, setgid or
    sticky, never more than the folder and the umask allow);
    ``keep_time_and_mode=False`` leaves it the time it was written and mode
    0640 less the umask. Raises varonet.Error when no sender started or the
    session failed.
    """
    folder = os.fspath(folder)
    if not os.path.isdir(folder):
        raise NotADirectoryError("cannot receive into %s: not a folder" % folder)
    settings = {"policy": policy, "keep_time_and_mode": keep_time_and_mode, "greet_at_once": True}
    return [FileResult(*r) for r in _varonet.zmodem_receive(device, folder, minutes, _reporter(progress), settings)]
