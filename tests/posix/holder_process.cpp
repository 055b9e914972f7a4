#include "posix/holder_process.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

namespace kdrvx::test {

HolderProcess::HolderProcess(const std::filesystem::path& path, Lock lock) {
  int ready[2];
  int control[2];
  if (pipe(ready) != 0 || pipe(control) != 0) return;
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    close(control[1]);
    int fd = open(path.c_str(), O_RDWR);
    char ok = fd >= 0 && flock(fd, (lock == Lock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
    (void)!write(ready[1], &ok, 1);
    uint32_t delay = 0;
    if (read(control[0], &delay, sizeof delay) == sizeof delay && delay > 0) usleep(delay * 1000);
    _exit(0);
  }
  close(ready[1]);
  close(control[0]);
  pid_ = pid;
  control_ = control[1];
  char ok = 0;
  holding_ = read(ready[0], &ok, 1) == 1 && ok == 1;
  close(ready[0]);
}

void HolderProcess::releaseAfter(unsigned milliseconds) {
  if (control_ < 0) return;
  uint32_t delay = milliseconds;
  (void)!write(control_, &delay, sizeof delay);
  close(control_);
  control_ = -1;
}

void HolderProcess::release() {
  releaseAfter(0);
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  holding_ = false;
}

HolderProcess::~HolderProcess() { release(); }

int exitStatusOfChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) _exit(body());
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kdrvx::test
