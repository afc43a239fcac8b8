// The floor of the checker's parse: reads a manifest into memory, untimed,
// then parses it once with the library in-process and frees the document.
// Prints the seconds that took and the process's peak RSS in KiB. Each run is
// a fresh process, so, like the checker, it pays for the memory it touches.
//   bench_parse FILE
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: bench_parse FILE\n";
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto start = std::chrono::steady_clock::now();
  {
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false, false);
    if (doc.is_discarded()) {
      std::cerr << argv[1] << " is not valid JSON\n";
      return 1;
    }
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::cout << seconds.count() << " " << usage.ru_maxrss << "\n";
  return 0;
}
