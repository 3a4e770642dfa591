// protoc plugin run in the same protoc invocation as --cpp_out: it inserts the
// include of the export header at the "includes" insertion point of every
// generated header, because the C++ generator's dllexport_decl option names the
// macro but never defines it.
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
    return true;
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  ExportIncludeGenerator generator;
  return google::protobuf::compiler::PluginMain(argc, argv, &generator);
}
