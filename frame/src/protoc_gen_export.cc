// protoc plugin run in the same protoc invocation as --cpp_out. It adds to
// every generated header:
// - the include of the export header, because the C++ generator's
//   dllexport_decl option names the macro but never defines it;
// - for each enum nested in a message, range constants under the enum's
//   flattened name (GetSerialNumberResp_DeviceMode_MIN, _MAX, _ARRAYSIZE), the
//   names every other enum has; the generator spells the nested ones with the
//   short name repeated (GetSerialNumberResp_DeviceMode_DeviceMode_MIN).
#include <google/protobuf/compiler/code_generator.h>
#include <google/protobuf/compiler/plugin.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/printer.h>
#include <google/protobuf/io/zero_copy_stream.h>

#include <memory>
#include <string>

namespace {

class ExportIncludeGenerator : public google::protobuf::compiler::CodeGenerator {
 public:
  bool Generate(const google::protobuf::FileDescriptor* file, const std::string& /*parameter*/,
                google::protobuf::compiler::GeneratorContext* context,
                std::string* error) const override {
    const std::string& name = file->name();
    const std::string suffix = ".proto";
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      *error = "schema file name does not end in .proto: " + name;
      return false;
    }
    const std::string header = name.substr(0, name.size() - suffix.size()) + ".pb.h";
    std::unique_ptr<google::protobuf::io::ZeroCopyOutputStream> out(
        context->OpenForInsert(header, "includes"));
    google::protobuf::io::Printer printer(out.get(), '$');
    printer.Print("#include <gcuproto/export.h>\n");

    std::unique_ptr<google::protobuf::io::ZeroCopyOutputStream> scope(
        context->OpenForInsert(header, "global_scope"));
    google::protobuf::io::Printer scope_printer(scope.get(), '$');
    for (int m = 0; m < file->message_type_count(); ++m) {
      const google::protobuf::Descriptor* message = file->message_type(m);
      for (int e = 0; e < message->enum_type_count(); ++e) {
        const std::string short_name = message->enum_type(e)->name();
        const std::string flat = message->name() + "_" + short_name;
        scope_printer.Print(
            "constexpr $flat$ $flat$_MIN = $flat$_$short$_MIN;\n"
            "constexpr $flat$ $flat$_MAX = $flat$_$short$_MAX;\n"
            "constexpr int $flat$_ARRAYSIZE = $flat$_$short$_ARRAYSIZE;\n",
            "flat", flat, "short", short_name);
      }
    }
    return true;
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  ExportIncludeGenerator generator;
  return google::protobuf::compiler::PluginMain(argc, argv, &generator);
}
