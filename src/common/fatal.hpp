// The fatal-error type: a condition that ends the run. It carries the console lines
// to print; `main` (and the exported C entry) print them and exit with a non-zero status.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvus {

class Fatal : public std::runtime_error {
 public:
  explicit Fatal(std::vector<std::string> lines)
      : std::runtime_error(lines.empty() ? std::string() : lines.front()),
        lines_(std::move(lines)) {}
  Fatal(std::initializer_list<std::string> lines) : Fatal(std::vector<std::string>(lines)) {}

  // Console lines, in the order they are written.
  [[nodiscard]] const std::vector<std::string>& lines() const noexcept { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// Writes the lines of a fatal error to standard output, one per line, and flushes.
void print_fatal(const Fatal& error);

}  // namespace orvus
