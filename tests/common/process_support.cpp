#include "common/process_support.h"

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace kavun::test {

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  soft_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = soft_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

Child RunChild(const std::function<int()>& body, bool asNobody) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (asNobody && ::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
          ::setuid(nobody->pw_uid) != 0) {
        ::_exit(98);
      }
    }
    int status = 99;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  Child child;
  int raw = 0;
  rusage usage{};
  if (pid > 0 && ::wait4(pid, &raw, 0, &usage) == pid) {
    child.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    child.MaxRssKiB = usage.ru_maxrss;
  }
  return child;
}

uid_t ChildUid() {
  const passwd* nobody = ::getpwnam("nobody");
  return ::geteuid() == 0 && nobody != nullptr ? nobody->pw_uid : ::geteuid();
}

gid_t ChildGid() {
  const passwd* nobody = ::getpwnam("nobody");
  return ::geteuid() == 0 && nobody != nullptr ? nobody->pw_gid : ::getegid();
}

}  // namespace kavun::test
