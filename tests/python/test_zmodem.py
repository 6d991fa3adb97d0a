# ZMODEM from Python against lrzsz's sz and rz, over TCP connections.
import os

import pytest
import varonet
from conftest import until
from varonet.zmodem import ExistingFile, Outcome

OFFER = b"old and longer"


@pytest.fixture
def folders(tmp_path):
    (tmp_path / "mine").mkdir()
    (tmp_path / "theirs").mkdir()
    return tmp_path / "mine", tmp_path / "theirs"


def test_send_to_rz_several_files_in_one_session_with_progress(folders, peer):
    mine, theirs = folders
    files = {"a.bin": os.urandom(300000), "b.txt": b"hello\n" * 1000, "c.txt": b"new"}
    for name, data in files.items():
        (mine / name).write_bytes(data)
    (theirs / "c.txt").write_bytes(b"old")  # rz keeps a file it has
    rz, reports = peer(theirs, "rz"), []
    with varonet.open(rz.locator) as device:
        results = varonet.zmodem.send(device, [mine / n for n in ["a.bin", "missing", "b.txt", "c.txt"]],
                                      progress=reports.append)
    assert rz.join() == 0
    assert [(r.name, r.outcome, r.code) for r in results] == [
        ("a.bin", Outcome.SENT, 0), ("missing", Outcome.FAILED, -1), ("b.txt", Outcome.SENT, 0),
        ("c.txt", Outcome.SKIPPED, 0)]
    assert (results[0].size, results[0].bytes) == (300000, 300000)
    assert [(theirs / n).read_bytes() for n in files] == [files["a.bin"], files["b.txt"], b"old"]
    first = [p for p in reports if p.name == "a.bin"]
    assert first[0].outcome is None
    assert first[-1] == varonet.zmodem.Progress("a.bin", 300000, 300000, Outcome.SENT)


@pytest.mark.parametrize("policy, result, kept", [
    (ExistingFile.KEEP, ("d.txt", Outcome.SKIPPED), {"d.txt": b"old"}),
    (ExistingFile.RESUME, ("d.txt", Outcome.SENT), {"d.txt": OFFER}),  # "old" is its beginning: continued
    (ExistingFile.OVERWRITE, ("d.txt", Outcome.SENT), {"d.txt": OFFER}),
    (ExistingFile.RENAME, ("d.1.txt", Outcome.SENT), {"d.txt": b"old", "d.1.txt": OFFER}),
])
def test_receive_from_sz_treats_an_existing_file_as_the_policy_says(folders, peer, policy, result, kept):
    mine, theirs = folders
    (theirs / "d.txt").write_bytes(OFFER)
    (mine / "d.txt").write_bytes(b"old")
    sz = peer(theirs, "sz", "d.txt")
    with varonet.open(sz.locator) as device:
        results = varonet.zmodem.receive(device, mine, policy=policy)
    assert sz.join() == 0
    assert [(r.name, r.outcome) for r in results] == [result]
    assert {p.name: p.read_bytes() for p in mine.iterdir()} == kept


@pytest.mark.parametrize("sending, receiving, kept", [
    ({}, {}, True),  # streamed, offered with time and mode, kept
    ({"window": 0, "full_offer": False}, {}, False),  # the classic offer: rz makes up time and mode
    ({}, {"keep_time_and_mode": False}, False),
])
def test_time_and_mode_travel_with_a_file_unless_told_otherwise(folders, peer, sending, receiving, kept):
    mine, theirs = folders
    data = os.urandom(200000)
    (mine / "t.bin").write_bytes(data)
    os.chmod(mine / "t.bin", 0o604)
    os.utime(mine / "t.bin", (1e9, 1e9))
    rz = peer(theirs, "rz")
    with varonet.open(rz.locator) as device:
        assert varonet.zmodem.send(device, mine / "t.bin", **sending)[0].outcome == Outcome.SENT
    assert rz.join() == 0
    sz = peer(theirs, "sz", "t.bin")
    (mine / "t.bin").unlink()
    with varonet.open(sz.locator) as device:
        assert varonet.zmodem.receive(device, mine, **receiving)[0].outcome == Outcome.SENT
    assert sz.join() == 0
    umask = os.umask(0o022)
    os.umask(umask)
    got = [(p.read_bytes(), p.stat().st_mtime == 1e9, p.stat().st_mode & 0o777) for p in (theirs / "t.bin", mine / "t.bin")]
    assert got[0] == (data, not sending, 0o604 if not sending else got[0][2])
    assert got[1] == (data, kept, got[0][2] if not receiving else 0o640 & ~umask)


def test_a_slow_progress_callback_never_holds_up_the_transfer(folders, peer):
    mine, theirs = folders
    (mine / "big.bin").write_bytes(os.urandom(2 << 20))
    rz = peer(theirs, "rz")
    # The first report waits until rz has received everything and ended.
    with varonet.open(rz.locator) as device:
        results = varonet.zmodem.send(device, [mine / "big.bin"], progress=lambda p: rz.thread.join(30))
    assert rz.join(0) == 0
    assert results[0].outcome == Outcome.SENT


def test_an_exception_in_the_progress_callback_cancels_the_session(folders, peer):
    mine, theirs = folders
    (mine / "big.bin").write_bytes(os.urandom(1 << 20))
    rz = peer(theirs, "rz")

    def fail(progress):
        raise RuntimeError("enough")

    with varonet.open(rz.locator) as device, pytest.raises(RuntimeError):
        varonet.zmodem.send(device, [mine / "big.bin"], progress=fail)
    assert rz.join() != 0


def test_a_failed_session_and_bad_arguments_raise(folders, peer):
    mine, _ = folders
    (mine / "a.txt").write_bytes(b"a")
    gone = peer(mine, "true")  # accepts and hangs up at once
    with varonet.open(gone.locator) as device, pytest.raises(varonet.Error) as raised:
        varonet.zmodem.send(device, [mine / "a.txt"])
    assert raised.value.code == 0x2000000C
    assert "(code 0x2000000C)" in str(raised.value)
    with varonet.open("loopback:") as device:
        with pytest.raises(NotADirectoryError):
            varonet.zmodem.receive(device, mine / "a.txt")
        with pytest.raises(TypeError):
            varonet.zmodem.send(device, [], speed=4)
        with pytest.raises(ValueError):
            varonet.zmodem.send(device, [], window=-1)


def test_a_session_gets_the_bytes_a_read_took_ahead(folders, peer):
    mine, theirs = folders
    (theirs / "e.txt").write_bytes(b"e" * 1000)
    sz = peer(theirs, "sz", "e.txt", seconds=5)  # a lost header costs sz a wait of 10 s and more
    with varonet.open(sz.locator, timeout=5) as device:
        assert until(lambda: device.in_waiting >= 20)  # the start and the header after it
        assert device.read(3) == b"rz\r"  # the header is read too, and held
        results = varonet.zmodem.receive(device, mine)
    assert sz.join() == 0
    assert results[0].outcome == Outcome.SENT
