"""The T=1 block protocol over any varonet device.

    with varonet.open("serial:/dev/ttyUSB0@9600", timeout=1) as port:
        node = varonet.t1.Protocol(port, node=0x12, bwt=1.0, cwt=0.1)
        answer = node.exchange(bytes.fromhex("00A4040007A0000000041010"))

Frames of any length travel as chains of blocks; lost, late and damaged
blocks are recovered. While an exchange runs the device is the protocol's alone.
"""

from . import _varonet

__all__ = ["Protocol"]

Protocol = _varonet.T1Protocol
