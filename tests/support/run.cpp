#include "support/run.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orvelle::testing {

namespace {

// Standard streams go through unlinked temporary files: no pipe can fill up and deadlock.
int temp_file() {
  FILE* f = std::tmpfile();
  if (!f) throw std::runtime_error("cannot make a temporary file");
  return ::dup(::fileno(f));  // the FILE is leaked on purpose: closing it would close the fd
}

std::string slurp(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

[[noreturn]] void exec_child(const std::string& program, const std::vector<std::string>& args,
                             const RunOptions& options, int in, int out, int err) {
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  for (const auto& name : options.unset_env) ::unsetenv(name.c_str());
  for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  const int in = temp_file(), out = temp_file(), err = temp_file();
  if (::write(in, options.input.data(), options.input.size()) !=
      static_cast<ssize_t>(options.input.size()))
    throw std::runtime_error("cannot write the child's input");
  ::lseek(in, 0, SEEK_SET);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot fork");
  if (pid == 0) exec_child(program, args, options, in, out, err);
  ::close(in);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = slurp(out);
  result.err = slurp(err);
  return result;
}

RunResult run_orvelle(const std::vector<std::string>& args, const RunOptions& options) {
  return run(ORVELLE_BINARY, args, options);
}

}  // namespace orvelle::testing
