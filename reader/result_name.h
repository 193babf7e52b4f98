// Short, stable names for the results of the Orvo reader's operations, for trace lines
// and error output. C++ only and kept out of the shared library's exported names.
#pragma once

#include <cstdint>
#include <string>

namespace pelliton::reader {

// The name of a reader operation's result: "OK" for 0; a reader code's name without
// its PELLITON_READER_ prefix ("TOO_LARGE", "STATUS_FE"); the errno symbol of a
// positive OS code ("ETIMEDOUT", "EBADF"), or "errno N" for one without a name here;
// "reader code N" for any other negative value. The number itself is the caller's to
// print beside it.
std::string ResultName(int32_t code);

}  // namespace pelliton::reader
