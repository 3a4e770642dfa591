// Builds the firmware-version query a flasher sends to the unit and reads the
// unit's answer.
#include <gcuproto/device_id.pb.h>
#include <gcuproto/library.h>

#include <cstdio>
#include <string>

int main() {
  GetFirmwareId request;
  std::string request_bytes;
  if (!request.SerializeToString(&request_bytes)) return 1;
  std::printf("request: %zu bytes\n", request_bytes.size());

  // The unit's answer for firmware 1.2.300.
  const std::string answer_bytes("\x08\x01\x10\x02\x18\xAC\x02", 7);
  FirmwareId answer;
  if (!answer.ParseFromString(answer_bytes)) {
    std::fprintf(stderr, "identity_query: the answer is not a FirmwareId\n");
    return 1;
  }
  std::printf("firmware %u.%u.%u (gcuproto %s)\n", answer.major_version(), answer.minor_version(),
              answer.build_version(), gcuproto::version());
  return answer.build_version() == 300 ? 0 : 1;
}
