#include "common/process_memory.h"

#include <malloc.h>

namespace orba {

void KeepFreedMemoryForReuse() {
  constexpr int kTopMargin = 1 << 20;
  // Only the margin changes; a failure leaves glibc's defaults, which work.
  mallopt(M_TOP_PAD, kTopMargin);
}

}  // namespace orba
