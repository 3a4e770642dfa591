"""Every message class and top-level enum of the schema files by its own name:

    from gcuproto.messages import Command, Response
    command = Command(version=1)
    command.ping.seq_no = 7
"""

import importlib

from ._schema_modules import SCHEMA_MODULES

__all__ = []

for _module_name in SCHEMA_MODULES:
    _module = importlib.import_module("." + _module_name, __package__)
    for _name in list(_module.DESCRIPTOR.message_types_by_name) + list(_module.DESCRIPTOR.enum_types_by_name):
        globals()[_name] = getattr(_module, _name)
        __all__.append(_name)

__all__.sort()
del _module_name, _module, _name
