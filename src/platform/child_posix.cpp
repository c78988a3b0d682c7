#include "platform/child_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system.h"

extern char** environ;

namespace tlq {

bool graphicalSession() {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = getEnv(v);
    if (value && !value->empty()) return true;
  }
  return false;
}

namespace {

// Starts argv[0] from PATH; `actions` set up its standard streams.
std::optional<pid_t> start(const std::vector<std::string>& argv, posix_spawn_file_actions_t& actions, bool detach) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (detach) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) return std::nullopt;
  return pid;
}

}  // namespace

std::optional<int> runChild(const std::vector<std::string>& argv, std::string* out, bool detach) {
  int pipeFds[2] = {-1, -1};
  if (out && ::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out)
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::optional<pid_t> pid = start(argv, actions, detach);
  if (out) ::close(pipeFds[1]);
  if (!pid) {
    if (out) ::close(pipeFds[0]);
    return std::nullopt;
  }
  if (out) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) out->append(buf, static_cast<size_t>(n));
    ::close(pipeFds[0]);
  }
  if (detach) return 0;
  int code = -1;
  childEnded(*pid, true, code);
  return code;
}

std::optional<FedChild> startFedChild(const std::vector<std::string>& argv) {
  int pipeFds[2] = {-1, -1};
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::optional<pid_t> pid = start(argv, actions, false);
  ::close(pipeFds[0]);
  if (!pid) {
    ::close(pipeFds[1]);
    return std::nullopt;
  }
  return FedChild{*pid, pipeFds[1]};
}

bool childEnded(pid_t pid, bool wait, int& exitCode) {
  int status = 0;
  pid_t rc;
  while ((rc = ::waitpid(pid, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (rc != pid) return rc < 0;  // not ours to wait for (any more): ended
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

}  // namespace tlq
