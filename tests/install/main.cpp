// Uses the installed package through its umbrella header only.
#include <QuorPolicy.h>

#include <cstdio>
#include <string>

int main() {
  std::string got;
  PolicyLog::setSink([&](int level, const std::string& text) {
    got = std::to_string(level) + ":" + text;
  });
  PolicyLog::log(PolicyLog::Warning, "consumer %d", 1);
  PolicyLog::setSink({});
  if (got != "2:consumer 1") {
    std::fprintf(stderr, "unexpected log capture: %s\n", got.c_str());
    return 1;
  }
  if (!isValidPort("25") || isValidPort("0")) return 1;
  std::puts("consumer ok");
  return 0;
}
