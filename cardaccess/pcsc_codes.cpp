#include "cardaccess/pcsc_codes.h"

namespace pelliton {

bool PcscServiceDown(long code) {
  const auto is = [code](LONG value) { return code == static_cast<long>(value); };
#ifdef _WIN32
  // SCARD_F_INTERNAL_ERROR is what establishing a context gives where no service can be
  // reached at all (wine's winscard answers nothing else).
  if (is(SCARD_F_INTERNAL_ERROR))
    return true;
#endif
  return is(SCARD_E_NO_SERVICE) || is(SCARD_E_SERVICE_STOPPED);
}

}  // namespace pelliton
