// Runs a program in a given folder and collects its exit code, standard
// output and standard error (standard input is empty).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace kestrune::testing {

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

namespace detail {
#ifdef _WIN32

// One argument quoted the way the C runtime splits a command line.
inline std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

inline std::string UpperName(const std::string& entry) {
  std::string name = entry.substr(0, entry.find('=', 1));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// Our environment with the changes applied, as a block of NUL-ended entries.
inline std::string EnvironmentBlock(const std::vector<std::string>& changes) {
  std::vector<std::string> entries;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* p = block; *p; p += std::char_traits<char>::length(p) + 1) {
      entries.emplace_back(p);
    }
    FreeEnvironmentStringsA(block);
  }
  for (const std::string& change : changes) {
    const std::string name = UpperName(change);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) { return UpperName(e) == name; }),
                  entries.end());
    if (change.find('=') + 1 < change.size()) entries.push_back(change);
  }
  std::string result;
  for (const std::string& e : entries) result += e + '\0';
  return result + '\0';
}

// Runs program with standard output and error going to the two files;
// returns its exit code (-1 when it did not exit normally, 127 when it
// could not be started).
inline int Spawn(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& folder, const std::vector<std::string>& environment,
                 const std::string& outFile, const std::string& errFile) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  auto create = [&](const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE in = create("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = create(outFile, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = create(errFile, GENERIC_WRITE, CREATE_ALWAYS);
  std::string commandLine = QuoteArgument(program);
  for (const std::string& a : arguments) commandLine += " " + QuoteArgument(a);
  std::string block = EnvironmentBlock(environment);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  int exitCode = 127;
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
      err != INVALID_HANDLE_VALUE &&
      CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                     block.data(), folder.c_str(), &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    // A process ended by an unhandled fault exits with the fault's status.
    exitCode = code >= 0xC0000000u ? -1 : static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE h : {in, out, err}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return exitCode;
}

inline unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
inline int Spawn(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& folder, const std::vector<std::string>& environment,
                 const std::string& outFile, const std::string& errFile) {
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
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
#endif
}  // namespace detail

// environment: "NAME=value" entries set on top of ours ("NAME=" alone
// removes NAME).
inline ProgramResult RunProgram(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& folder,
                                const std::vector<std::string>& environment = {}) {
  namespace fs = std::filesystem;
  const fs::path outFile =
      fs::temp_directory_path() / ("kestrune-run-" + std::to_string(detail::ProcessId()) + ".out");
  const fs::path errFile = fs::path(outFile).replace_extension(".err");
  ProgramResult result;
  result.exitCode = detail::Spawn(program, arguments, folder, environment, outFile.string(),
                                  errFile.string());
  result.out = ReadBytes(outFile.string());
  result.err = ReadBytes(errFile.string());
  std::error_code ignored;
  fs::remove(outFile, ignored);
  fs::remove(errFile, ignored);
  return result;
}

}  // namespace kestrune::testing
