#include "settings/AtomicFileParts.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

namespace zo {

namespace {

std::mutex hook_mutex;
TAtomicFailureHook failure_hook;

bool IsTagCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

void SetAtomicWriteFailureHook(TAtomicFailureHook Hook) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  failure_hook = std::move(Hook);
}

bool StepAllowed(TAtomicStep Step) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  return !failure_hook || failure_hook(Step);
}

std::string TempPrefix(const std::string& Target, const std::string& Host) {
  std::string host = Host.empty() ? "localhost" : Host;
  std::replace(host.begin(), host.end(), '/', '_');
  std::replace(host.begin(), host.end(), '\\', '_');
  return Target + ".tmp-" + host + "-";
}

std::string TempStem(const std::string& Target, const std::string& Host, long Pid) {
  return TempPrefix(Target, Host) + std::to_string(Pid) + "-";
}

std::string TempTag() {
  static const char kTagCharacters[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  static std::atomic<unsigned> counter{0};
  unsigned n = counter.fetch_add(1) ^ static_cast<unsigned>(std::rand());
  std::string tag;
  for (std::size_t i = 0; i < TempTagLength; ++i, n /= 62)
    tag += kTagCharacters[n % 62];
  return tag;
}

long LeftoverWriter(const std::string& Name, const std::string& Prefix) {
  if (Name.compare(0, Prefix.size(), Prefix) != 0) return 0;
  const std::string rest = Name.substr(Prefix.size());
  const auto dash = rest.find('-');
  if (dash == std::string::npos || dash == 0 || dash > 9 || rest[0] == '0') return 0;
  if (rest.size() != dash + 1 + TempTagLength) return 0;
  for (std::size_t i = 0; i < dash; ++i)
    if (rest[i] < '0' || rest[i] > '9') return 0;
  for (std::size_t i = dash + 1; i < rest.size(); ++i)
    if (!IsTagCharacter(rest[i])) return 0;
  return std::strtol(rest.c_str(), nullptr, 10);
}

}  // namespace zo
