"""gcuproto: the messages of the GCU's host tools, and its blackbox logs.

    from gcuproto import commands_pb2          # one module per schema file
    from gcuproto.messages import Command      # or every message by its name
    import gcuproto.blackbox as bb              # logs as pandas DataFrames
    lines = bb.read_lines("log.bin", time=True)

The schema files register under their own names ("commands.proto", ...), as in
the C++ library, so type names, Any URLs and JSON agree between the two.
"""

__version__ = "@PROJECT_VERSION@"
