#include "model/vector_width.h"

#include <atomic>

namespace strellix {

namespace {

bool processor_has_avx2() {
#if defined(__x86_64__) && defined(__GNUC__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

std::atomic<bool> wide_wanted{true};

}  // namespace

bool wide_vectors() {
  static const bool available = processor_has_avx2();
  return available && wide_wanted.load(std::memory_order_relaxed);
}

void set_wide_vectors(bool wanted) {
  wide_wanted.store(wanted, std::memory_order_relaxed);
}

}  // namespace strellix
