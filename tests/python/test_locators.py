# The locator language from Python: parse, write, print for people, and the serial ports as locators.
import json
import os
import subprocess

import pytest
import varonet


@pytest.mark.parametrize("text, protocol, target, value, options", [
    ("serial:COM1@9600", "serial", "COM1", "9600", {}),
    ("serial:ttyUSB0:baudrate=115200,FlowControl=Hardware", "serial", "ttyUSB0", None,
     {"baudrate": "115200", "FlowControl": "Hardware"}),
    (r"modem:serial\:COM1\@115k:Number=555,Blind", "modem", "serial:COM1@115k", None, {"Number": "555", "Blind": "1"}),
    (r"tcpip:host:Port=5000,Note=a\,b", "tcpip", "host", None, {"Port": "5000", "Note": r"a\,b"}),
    ("server:", "server", "", None, {}),
])
def test_parse_splits_a_locator_and_str_writes_it_back(text, protocol, target, value, options):
    parsed = varonet.parse(text)
    assert parsed == (protocol, target, value, options)
    assert varonet.parse(str(parsed)) == parsed


@pytest.mark.parametrize("parts", [("", "x"), ("a:b", "x"), ("tcpip", "x", None, {"a=b": "1"})])
def test_a_locator_with_a_bad_protocol_word_or_option_name_is_refused(parts):
    with pytest.raises(ValueError):
        str(varonet.Locator(*parts))


def test_parse_refuses_a_text_without_a_protocol_word():
    with pytest.raises(varonet.LocatorError) as raised:
        varonet.parse("COM1")
    assert raised.value.code == 9728


def tool(*args):
    return subprocess.run([os.environ["VARONET_TOOL"], *args], capture_output=True, check=True).stdout.decode()


@pytest.mark.skipif("VARONET_TOOL" not in os.environ, reason="the varonet tool is not built")
@pytest.mark.parametrize("raw", [False, True])
def test_the_printer_shows_what_varonet_print_shows(raw):
    locator = r"modem:serial\:COM1\@9600:Number=555,ConnectTimeout=60000"
    assert varonet.printer(locator, raw=raw) == tool("print", *(["--raw"] if raw else []), locator)
    with pytest.raises(varonet.LocatorError):
        varonet.printer("nothing")


@pytest.mark.skipif("VARONET_TOOL" not in os.environ, reason="the varonet tool is not built")
def test_ports_are_the_tools_list():
    listed = json.loads(tool("ports", "--json", "--baud", "9600"))
    assert [port._asdict() for port in varonet.ports(baud=9600)] == listed
