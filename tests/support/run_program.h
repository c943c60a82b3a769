// Runs a program in a given folder and collects its exit code, standard
// output and standard error (standard input is empty).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrune::testing {

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// environment: "NAME=value" entries set on top of ours ("NAME=" alone
// removes NAME).
inline ProgramResult RunProgram(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& folder,
                                const std::vector<std::string>& environment = {}) {
  namespace fs = std::filesystem;
  const fs::path outFile = fs::temp_directory_path() /
                           ("kestrune-run-" + std::to_string(getpid()) + ".out");
  const fs::path errFile = fs::path(outFile).replace_extension(".err");
  ProgramResult result;
  const pid_t child = fork();
  if (child == 0) {
    for (const std::string& entry : environment) {
      const size_t eq = entry.find('=');
      const std::string name = entry.substr(0, eq);
      const std::string value = entry.substr(eq + 1);
      if (value.empty()) unsetenv(name.c_str()); else setenv(name.c_str(), value.c_str(), 1);
    }
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  auto slurp = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  result.out = slurp(outFile);
  result.err = slurp(errFile);
  std::error_code ignored;
  fs::remove(outFile, ignored);
  fs::remove(errFile, ignored);
  return result;
}

}  // namespace kestrune::testing
