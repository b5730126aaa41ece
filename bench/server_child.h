// A local picture or body server for a benchmark, in a child process of its own: its threads
// then take no part in the measured process's time and memory.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace desk_bench {

class ServerChild {
 public:
  // Forks. In the child, `serve(report)` builds a server, binds it to 127.0.0.1, calls
  // report(port) and listens; the child ends when the parent stops it, or after ten minutes
  // whatever happens to the parent.
  void Start(const std::function<void(const std::function<void(int)>& report)>& serve) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      alarm(600);
      serve([&](int port) {
        if (write(fds[1], &port, sizeof port) != sizeof port) _exit(1);
        close(fds[1]);
      });
      _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &port_, sizeof port_) != sizeof port_ || port_ <= 0) std::abort();
    close(fds[0]);
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace desk_bench
