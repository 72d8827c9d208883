#include "test_support.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace orvus::test {

std::string data_path(const std::string& relative) {
  return std::string(ORVUS_TEST_DATA) + "/" + relative;
}

const EarthOrientation& eop() {
  static const EarthOrientation e = EarthOrientation::load(data_path("finals2000A.data"));
  return e;
}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path = std::filesystem::temp_directory_path() /
         ("orvus-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void ScratchDir::write(const std::string& name, const std::string& content) const {
  std::ofstream out(path / name, std::ios::binary);
  out << content;
}

std::string ScratchDir::read(const std::string& name) const {
  return read_file(file(name));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> fatal_lines(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.lines();
  }
  ADD_FAILURE() << "no fatal error raised";
  return {};
}

RunResult run_orvus(const std::filesystem::path& dir, const std::string& env) {
  return run_command("cd '" + dir.string() + "' && " + env + " '" + ORVUS_BINARY + "'");
}

RunResult run_command(const std::string& command) {
  RunResult result;
  const std::string cmd = command + " 2>&1";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string comparable_output(const std::filesystem::path& dir, const RunResult& r) {
  std::string out;
  const auto keep = [&out](const std::string& line) {
    if (line.find("EXECUTION TIME:") == std::string::npos) out += line + "\n";
  };
  std::stringstream console(r.output);
  std::string line;
  while (std::getline(console, line)) keep(line);
  for (const char* f : {"ORVUS_v1.13_OUT1.TXT", "ORVUS_v1.13_OUT2.CSV", "ORVUS_v1.13_OUT3.CSV"}) {
    for (const auto& l : read_lines((dir / f).string())) keep(l);
  }
  return out + "status " + std::to_string(r.status);
}

}  // namespace orvus::test
