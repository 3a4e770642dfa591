"""Clients of the software server and of units on TCP, the same as
`gcuproto send` uses:

    from gcuproto import link
    from gcuproto.messages import Command, SoftwareServerRequest

    with link.connect_server("127.0.0.1:7100") as server:
        command = Command(version=1)
        command.ping.seq_no = 7
        print(server.exchange(command))                 # the unit's Response
        request = SoftwareServerRequest()
        request.getSerialNumber.SetInParent()
        print(server.call(request))                     # the server's own answer
        server.record("log.bin", seconds=10)            # a data-logger session

Frames are protobuf's delimited format; the waiting happens in C++ without the
GIL. A late answer raises TimeoutError, a broken connection or a bad frame
ConnectionError.
"""

from . import _link
from .messages import Command, DataloggerStart, Response, SoftwareServerRequest, SoftwareServerResponse

DEFAULT_MAX_FRAME_SIZE = _link.DEFAULT_MAX_FRAME_SIZE


class Client:
    """A connection to a unit, directly or through the software server."""

    def __init__(self, native, timeout):
        self._native = native
        self.timeout = timeout

    def exchange(self, command, timeout=None, frames=None):
        """Sends a Command and returns the unit's Response to it. CAN frames
        that arrive first are appended to the list `frames` when one is given."""
        answer, before = self._native.exchange(_bytes(command, Command), timeout or self.timeout)
        if frames is not None:
            frames.extend(Response.FromString(frame) for frame in before)
        return Response.FromString(answer)

    def send(self, command):
        """Sends a Command without waiting for its answer."""
        self._native.send(_bytes(command, Command))

    def receive(self, timeout=None):
        """The unit's next packet, or None when none comes in time."""
        packet = self._native.receive(timeout or self.timeout)
        return None if packet is None else Response.FromString(packet)

    def record(self, path, seconds=0, records=0, logger=None, timeout=None):
        """Starts the data logger and the CAN capture and writes what arrives to
        the blackbox file at `path` until `seconds` passed or `records` records
        came (0: no limit) or Ctrl-C. Returns (logger lines, CAN lines)."""
        logger_bytes = b"" if logger is None else _bytes(logger, DataloggerStart)
        return self._native.record(str(path), float(seconds), int(records), timeout or self.timeout, logger_bytes)

    def close(self):
        self._native = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class ServerClient(Client):
    """The software server: commands are wrapped in sendPacketToGcu."""

    def call(self, request, timeout=None):
        """Sends a SoftwareServerRequest and returns the server's answer."""
        answer = self._native.call(_bytes(request, SoftwareServerRequest), timeout or self.timeout)
        return SoftwareServerResponse.FromString(answer)


def connect_server(address, timeout=10.0, token="", max_frame_size=DEFAULT_MAX_FRAME_SIZE):
    """Connects to a software server at "HOST:PORT" (`gcuproto serve`)."""
    return ServerClient(_link.connect_server(address, timeout, token, max_frame_size), timeout)


def connect_unit(address, timeout=10.0, token="", max_frame_size=DEFAULT_MAX_FRAME_SIZE):
    """Connects to a unit that serves Command frames itself (`gcuproto sim --port`)."""
    return Client(_link.connect_unit(address, timeout, token, max_frame_size), timeout)


def _bytes(message, cls):
    if not isinstance(message, cls):
        raise TypeError(f"expected {cls.DESCRIPTOR.full_name}, got {type(message).__name__}")
    return message.SerializeToString()
