// A fault matrix's count of its runs and of the rules they broke. Only the
// first broken rules are reported: a fault that breaks every run must not
// bury the report.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace matrix {

class Tally {
 public:
  // report shows one broken rule, given as "WHERE: RULE".
  explicit Tally(std::function<void(const std::string&)> report) : report_(std::move(report)) {}

  void Judge(const std::string& where, const std::vector<std::string>& broken) {
    ++runs_;
    for (const std::string& rule : broken) {
      if (++violations_ <= kReported) report_(where + ": " + rule);
    }
  }

  // The summary line, "NAME: N runs, V violations".
  void Print(const char* name) const {
    std::printf("%s: %d runs, %d violations\n", name, runs_, violations_);
  }

  int violations() const { return violations_; }

 private:
  static constexpr int kReported = 20;
  std::function<void(const std::string&)> report_;
  int runs_ = 0;
  int violations_ = 0;
};

}  // namespace matrix
