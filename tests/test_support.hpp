// Helpers shared by the tests: the real data directory, scratch directories and running
// the program.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "orvus/earth_orientation.hpp"
#include "orvus/error.hpp"

namespace orvus::test {

// Path of a file under the real data directory (tests/data).
std::string data_path(const std::string& relative);

// The real Earth-orientation file of tests/data, loaded once.
const EarthOrientation& eop();

// A fresh empty directory under the system temporary directory, removed on destruction.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path path;
  std::string file(const std::string& name) const { return (path / name).string(); }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
};

std::string read_file(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);

// Runs `f` and returns the lines of the Error it raises (the program's Fatal too); fails the
// test if none is raised.
std::vector<std::string> fatal_lines(const std::function<void()>& f);

struct RunResult {
  int status = -1;
  std::string output;  // standard output and error
};

// Runs the program in `dir` with an optional environment prefix ("A=1 B=2").
RunResult run_orvus(const std::filesystem::path& dir, const std::string& env = "");

// Runs a shell command; its standard output and error, and its exit status.
RunResult run_command(const std::string& command);

// The console lines and the three reports of a run in `dir`, without the execution-time
// lines (which differ from run to run), and the exit status: what must not depend on how
// the search ran.
std::string comparable_output(const std::filesystem::path& dir, const RunResult& r);

}  // namespace orvus::test
