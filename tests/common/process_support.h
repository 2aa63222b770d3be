#pragma once

// Helpers of the tests that need what one process cannot show alone: a lowered file-size limit
// (a full disk for the writers), and a child process that may run as an ordinary user, since
// file permissions do not bind root, who runs CI.

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace kavun::test {

// Lowers the largest file this process may write while it lives: writes beyond fail with EFBIG
// (SIGXFSZ is ignored from then on, so that the process is not killed instead).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t soft_ = 0;
};

struct Child {
  int Status = -1;     // exit status, or -1 when the child did not exit normally
  long MaxRssKiB = 0;  // its peak resident memory
};

// Runs `body` in a child process and reports its exit status (body's return value; 99 for an
// exception, 98 when it could not become nobody) and peak memory. With `asNobody` (and when
// running as root) the child first drops to the user nobody, so that file permissions bind it.
Child RunChild(const std::function<int()>& body, bool asNobody = false);

// The uid and gid a child of RunChild(..., true) runs with.
uid_t ChildUid();
gid_t ChildGid();

}  // namespace kavun::test
