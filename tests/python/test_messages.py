"""The generated messages against the C++ library, through the built tool."""

import json

import pytest
from google.protobuf import json_format, text_format

import gcuproto.messages
from conftest import SAMPLES, tool

SAMPLE_TYPES = [("Command", "command"), ("Response", "response"), ("FirmwareFile", "firmware")]


@pytest.mark.parametrize("type_name,sample", SAMPLE_TYPES)
def test_bytes_cross_between_languages(type_name, sample):
    cls = getattr(gcuproto.messages, type_name)
    message = text_format.Parse((SAMPLES / f"{sample}.txt").read_text(), cls())

    # Python's bytes, read by C++: the tool's JSON of them is the same message.
    python_bytes = message.SerializeToString()
    decoded = tool("decode", type_name, "--json", stdin=python_bytes)
    assert json_format.Parse(decoded, cls()) == message
    assert text_format.Parse(tool("decode", type_name, stdin=python_bytes), cls()) == message

    # C++'s bytes, read by Python: the same message, the same bytes.
    cpp_bytes = tool("encode", type_name, SAMPLES / f"{sample}.txt")
    assert cls.FromString(cpp_bytes) == message
    assert cpp_bytes == python_bytes == (SAMPLES / f"{sample}.bin").read_bytes()


def tool_types():
    """The tool's `types` listing: file name -> the top-level names it declares."""
    files = {}
    for row in tool("types").decode().splitlines():
        if row.endswith(".proto"):
            current = files.setdefault(row, set())
        elif row.startswith(" ") and "." not in row.split()[1]:
            current.add(row.split()[1])
    return files


def test_every_file_registers_under_its_name_with_its_types():
    from gcuproto._schema_modules import SCHEMA_MODULES
    import importlib
    python = {}
    for name in SCHEMA_MODULES:
        descriptor = importlib.import_module("gcuproto." + name).DESCRIPTOR
        python[descriptor.name] = set(descriptor.message_types_by_name) | set(descriptor.enum_types_by_name)
    assert python == tool_types()
    assert sum(name in gcuproto.messages.__all__ and hasattr(getattr(gcuproto.messages, name), "FromString")
               for name in gcuproto.messages.__all__) == 117


def test_json_type_urls_agree():
    # An Any made in Python names the type as the C++ library registers it.
    from google.protobuf import any_pb2
    packed = any_pb2.Any()
    packed.Pack(gcuproto.messages.Command(version=1))
    assert packed.type_url == "type.googleapis.com/Command"
    assert json.loads(json_format.MessageToJson(gcuproto.messages.Command(version=1))) == {"version": 1}
