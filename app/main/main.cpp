// The kestrune program: kestrune INPUT OUTPUT [-xVALUE ...]
#include <string>
#include <vector>

#include "app/entry.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(argc > 0 ? argc : 0));
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
  return kestrune::RunKestrune(arguments);
}
