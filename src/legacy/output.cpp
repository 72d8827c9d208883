// Safe report output: the input file locked for the run, the reports written under
// temporary names and renamed over the earlier ones at the end, every write and close
// checked, and the temporary files removed on an interruption.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>

#include "legacy/fatal.hpp"
#include "legacy/run.hpp"
#include "outputs/safe_output.hpp"

namespace orvus {

namespace {

// Temporary names beside the reports, fixed so that the next run finds what a run killed
// outright (SIGKILL, power loss) left behind.
constexpr std::array<const char*, 3> kReportNames = {kOut1File, kOut2File, kOut3File};
constexpr std::array<const char*, 3> kTemporaryNames = {"ORVUS_v" ORVUS_VERSION "_OUT1.TXT.tmp",
                                                        "ORVUS_v" ORVUS_VERSION "_OUT2.CSV.tmp",
                                                        "ORVUS_v" ORVUS_VERSION "_OUT3.CSV.tmp"};

using io::error_text;

[[noreturn]] void write_failed(const std::string& name, int err) {
  throw Fatal{" CANNOT WRITE THE REPORT FILE \"" + name + "\": " + error_text(err) + ".",
              " THE EARLIER REPORTS ARE LEFT AS THEY WERE.", " EXECUTION INTERRUPTED."};
}

FilePtr create_temporary(std::size_t i) {
  const char* report = kReportNames[i];
  // A directory of the report's name could never be replaced: stop before the search.
  struct stat st {};
  const bool directory = ::stat(report, &st) == 0 && S_ISDIR(st.st_mode);
  int fd = -1;
  if (!directory) {
    ::unlink(kTemporaryNames[i]);
    // O_EXCL: never write through a link or into a file that someone else holds.
    fd = ::open(kTemporaryNames[i], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  FilePtr f(fd >= 0 ? ::fdopen(fd, "w") : nullptr);
  if (!f) {
    if (fd >= 0) ::close(fd);
    throw Fatal{std::string(" CANNOT CREATE THE REPORT FILE \"") + report + "\".",
                " EXECUTION INTERRUPTED."};
  }
  return f;
}

}  // namespace

void check_report_streams(const ReportFiles& files) {
  const std::array<std::pair<std::FILE*, const std::string*>, 3> streams = {
      {{files.out1.get(), &files.name1},
       {files.out2.get(), &files.name2},
       {files.out3.get(), &files.name3}}};
  for (const auto& [f, name] : streams) {
    if (f == nullptr || name->empty() || std::ferror(f) == 0) continue;
    // Writing the buffer again gives the reason afresh.
    errno = 0;
    std::fflush(f);
    write_failed(*name, errno);
  }
}

ReportSet::ReportSet() : cleanup_(std::make_unique<io::StopCleanup>()) {
  for (const char* name : kTemporaryNames) cleanup_->add(name);
}

ReportSet::~ReportSet() {
  discard();
}

void ReportSet::create() {
  live_ = true;
  cleanup_->arm();
  files_.out1 = create_temporary(0);
  files_.out2 = create_temporary(1);
  files_.out3 = create_temporary(2);
  files_.name1 = kOut1File;
  files_.name2 = kOut2File;
  files_.name3 = kOut3File;
}

void ReportSet::commit() {
  check_report_streams(files_);
  std::array<FilePtr*, 3> streams = {&files_.out1, &files_.out2, &files_.out3};
  for (std::size_t i = 0; i < streams.size(); ++i) {
    std::FILE* f = streams[i]->release();
    errno = 0;
    const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
    const int flush_err = errno;
    const bool closed = std::fclose(f) == 0;
    const int close_err = errno;
    if (!flushed || !closed) write_failed(kReportNames[i], flushed ? close_err : flush_err);
  }
  cleanup_->replace([] {
    for (std::size_t i = 0; i < kReportNames.size(); ++i) {
      if (std::rename(kTemporaryNames[i], kReportNames[i]) != 0) {
        const int err = errno;
        throw Fatal{std::string(" CANNOT REPLACE THE REPORT FILE \"") + kReportNames[i] +
                        "\": " + error_text(err) + ".",
                    " EXECUTION INTERRUPTED."};
      }
    }
  });
  live_ = false;
  cleanup_->disarm();
}

void ReportSet::discard() noexcept {
  if (!live_) return;
  files_.out1.reset();
  files_.out2.reset();
  files_.out3.reset();
  for (const char* name : kTemporaryNames) ::unlink(name);
  live_ = false;
  cleanup_->disarm();
}

void remove_stale_report_files() {
  for (const char* name : kTemporaryNames) ::unlink(name);
}

InputLock::InputLock(const char* file) : lock_(file) {
  // Where the file system offers no locks, the run goes on unlocked.
  if (lock_.busy()) {
    throw Fatal{
        std::string(" ANOTHER ORVUS RUN IS USING THIS DIRECTORY (\"") + file + "\" IS LOCKED).",
        " EXECUTION INTERRUPTED."};
  }
}

}  // namespace orvus
