# Places the modules protoc generates inside the package. protoc writes them
# as top-level modules that import each other as such; here
#   import CommandResult_pb2 as CommandResult__pb2
# becomes
#   from . import CommandResult_pb2 as CommandResult__pb2
# and the classes take the package's module name (gcuproto.commands_pb2), so
# they pickle. The serialised descriptors keep their bare file names: the files
# register as "commands.proto" and so on, as in the C++ library.
foreach(file IN LISTS FILES)
  file(READ "${file}" text)
  string(REGEX REPLACE "\nimport ([A-Za-z0-9_]+_pb2) as " "\nfrom . import \\1 as " text "${text}")
  string(REGEX REPLACE "BuildTopDescriptorsAndMessages\\(DESCRIPTOR, '[A-Za-z0-9_]+_pb2'"
    "BuildTopDescriptorsAndMessages(DESCRIPTOR, __name__" text "${text}")
  file(WRITE "${file}" "${text}")
endforeach()
