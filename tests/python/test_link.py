"""gcuproto.link against the tool's own server and virtual unit, over loopback."""

import subprocess

import pytest
from google.protobuf import text_format

from conftest import SAMPLES, TOOL
from gcuproto import blackbox, link
from gcuproto.messages import Command, CommandResult, SoftwareServerRequest


@pytest.fixture
def serve():
    """Starts `gcuproto ARGS --port 0` and gives its address."""
    started = []

    def start(*args):
        process = subprocess.Popen([TOOL, *args, "--port", "0"], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True)
        started.append(process)
        return "127.0.0.1:" + process.stdout.readline().strip()

    yield start
    for process in started:
        process.kill()
        process.wait()


def command(text):
    return text_format.Parse("version: 1 " + text, Command())


def request(text):
    return text_format.Parse(text, SoftwareServerRequest())


@pytest.mark.parametrize("through", ["serve", "sim"])
def test_ping_and_unknown_requests(serve, through):
    address = serve(through, "--answer", "bOk") if through == "serve" else serve("sim")
    connect = link.connect_server if through == "serve" else link.connect_unit
    with connect(address, timeout=5) as client:
        pong = client.exchange(command("ping { seq_no: 4294967295 }"))
        assert text_format.MessageToString(pong, as_one_line=True) == "version: 1 pong { seq_no: 4294967295 }"
        assert client.exchange(command("loggerGetData {}")).result == CommandResult.Value("notSupported")


def test_server_answers_as_the_tool_does(serve):
    address = serve("serve", "--answer", "bYes", "--serial", "GCU-7")
    answers = {}
    for text in ["getSerialNumber {}", 'showMessage { messageText: "flash?" }', "getFirmwareVersion {}"]:
        with link.connect_server(address) as server:
            answers[text] = text_format.MessageToString(server.call(request(text)))
        printed = subprocess.run([TOOL, "send", "--server", address, "SoftwareServerRequest", text],
                                 check=True, capture_output=True, text=True).stdout
        assert answers[text] == printed, text
    assert 'serialNo: "GCU-7"' in answers["getSerialNumber {}"]


def kinds(path):
    """Logger lines byte for byte, CAN frames without the numbering the
    recorder gives them, since the two kinds arrive on their own paths."""
    records = list(blackbox.open(path))
    lines = [r.raw for r in records if r.kind == blackbox.LINE]
    frames = [(r.timestamp, r.message.canId, r.message.data) for r in records if r.kind != blackbox.LINE]
    return lines, frames, len(records)


def test_recording_gives_back_the_replayed_log(serve, tmp_path):
    log = SAMPLES / "blackbox.bin"
    expected = kinds(log)
    address = serve("serve", "--answer", "bOk", "--replay", str(log), "--speed", "max")
    with link.connect_server(address, timeout=5) as server:
        lines, cans = server.record(tmp_path / "recorded.bin", records=expected[2])
    assert (lines, cans) == (len(expected[0]), len(expected[1]))
    assert kinds(tmp_path / "recorded.bin") == expected


def test_errors_name_their_cause(serve):
    with pytest.raises(ValueError, match="PORT"):
        link.connect_server("localhost")
    with pytest.raises(ConnectionError, match="token|closed"):
        address = serve("serve", "--answer", "bOk", "--token", "right")
        with link.connect_server(address, token="wrong") as server:
            server.exchange(command("ping { seq_no: 1 }"))
    with pytest.raises(TypeError, match="gcuproto.Command|Command"):
        link.connect_server(serve("serve", "--answer", "bOk")).exchange(request("getSerialNumber {}"))
