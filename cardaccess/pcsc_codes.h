// What the PC/SC service's result codes say beyond success and failure.
#pragma once

#include <winscard.h>

namespace pelliton {

// Whether a PC/SC result says the service is not there to answer (not running, stopped,
// or gone since the context was made).
bool PcscServiceDown(long code);

}  // namespace pelliton
