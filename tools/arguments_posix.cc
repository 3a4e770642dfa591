#include "arguments.h"

namespace gcuproto::cli {

// The arguments are the bytes the caller passed: UTF-8 in a UTF-8 locale,
// and the bytes of the file names in any other.
void UseUtf8Arguments(int*, char***) {}

}  // namespace gcuproto::cli
