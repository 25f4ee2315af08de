#pragma once
// One row of the reliability table (docs/RELIABILITY.md): what was tried, on how many cases, within which
// bound, the worst figure measured and whether the test held. scripts/reliability.sh collects the lines
// these print from the test output; nothing else reads them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

namespace zorvik::reliability {

class ReliabilityRow {
  public:
    ReliabilityRow(std::string row, std::string bound) : row_(std::move(row)), bound_(std::move(bound)) {}
    ReliabilityRow(const ReliabilityRow&) = delete;
    ReliabilityRow& operator=(const ReliabilityRow&) = delete;
    // Printed when the test ends, passed or not, so a failing row shows in the table too.
    ~ReliabilityRow() {
        std::printf("RELIABILITY|%s|%d|%s|%s|%s\n", row_.c_str(), cases_, bound_.c_str(), measured_.c_str(),
                    testing::Test::HasFailure() ? "FAILED" : "passed");
        std::fflush(stdout);
    }

    void AddCase() { ++cases_; }
    void AddCases(int n) { cases_ += n; }
    void Measured(std::string text) { measured_ = std::move(text); }
    // Keeps the longest of the durations seen, shown in milliseconds.
    void Worst(std::chrono::steady_clock::duration d) {
        worst_ = std::max(worst_, d);
        char text[64];
        std::snprintf(text, sizeof text, "worst %.1f ms",
                      std::chrono::duration<double, std::milli>(worst_).count());
        measured_ = text;
    }

  private:
    std::string row_;
    std::string bound_;
    std::string measured_ = "-";
    int cases_ = 0;
    std::chrono::steady_clock::duration worst_{};
};

}  // namespace zorvik::reliability
