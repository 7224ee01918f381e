// Standard error pointed at another file for a while: a decoder's own
// complaints muted, or the messages of a read kept for later.
#pragma once

namespace strellix {

// Points standard error at `fd` for the lifetime of the object and puts it
// back afterwards, also when the code in between throws. With fd < 0, or
// when standard error cannot be moved, nothing changes and active() is
// false. Standard error belongs to the whole process: callers on several
// threads must take turns.
class StandardErrorRedirect {
 public:
  explicit StandardErrorRedirect(int fd);
  ~StandardErrorRedirect();
  StandardErrorRedirect(const StandardErrorRedirect&) = delete;
  StandardErrorRedirect& operator=(const StandardErrorRedirect&) = delete;

  bool active() const { return saved_ >= 0; }

 private:
  int saved_ = -1;
};

}  // namespace strellix
