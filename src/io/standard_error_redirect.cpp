#include "io/standard_error_redirect.h"

#include <unistd.h>

#include <cstdio>

namespace strellix {

StandardErrorRedirect::StandardErrorRedirect(int fd) {
  if (fd < 0) return;
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  if (saved_ < 0) return;
  if (dup2(fd, STDERR_FILENO) < 0) {
    close(saved_);
    saved_ = -1;
  }
}

StandardErrorRedirect::~StandardErrorRedirect() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
}

}  // namespace strellix
