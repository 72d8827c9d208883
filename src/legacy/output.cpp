// Safe report output: the input file locked for the run, the reports written under
// temporary names and renamed over the earlier ones at the end, every write and close
// checked, and the temporary files removed on an interruption.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "legacy/fatal.hpp"
#include "legacy/run.hpp"

namespace orvus {

namespace {

// Temporary names beside the reports, fixed so that the next run finds what a run killed
// outright (SIGKILL, power loss) left behind.
constexpr std::array<const char*, 3> kReportNames = {kOut1File, kOut2File, kOut3File};
constexpr std::array<const char*, 3> kTemporaryNames = {"ORVUS_v" ORVUS_VERSION "_OUT1.TXT.tmp",
                                                        "ORVUS_v" ORVUS_VERSION "_OUT2.CSV.tmp",
                                                        "ORVUS_v" ORVUS_VERSION "_OUT3.CSV.tmp"};
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// Set while temporary files of this run may exist; read by the signal handler.
volatile std::sig_atomic_t g_temporaries_live = 0;

extern "C" void stop_on_signal(int sig) {
  // Only async-signal-safe calls: unlink, signal, raise.
  if (g_temporaries_live != 0) {
    for (const char* name : kTemporaryNames) ::unlink(name);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

struct SavedHandlers {
  std::array<struct sigaction, 3> stop{};
  struct sigaction xfsz {};
};
SavedHandlers g_saved;

void install_handlers() {
  struct sigaction sa {};
  sa.sa_handler = stop_on_signal;
  sigemptyset(&sa.sa_mask);
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    // A signal the run was started to ignore (nohup, a background job) stays ignored.
    sigaction(kStopSignals[i], nullptr, &g_saved.stop[i]);
    if (g_saved.stop[i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &sa, nullptr);
  }
  // A file-size limit then makes the write fail with EFBIG, which is reported, instead of
  // killing the run with a report cut short.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &g_saved.xfsz);
}

void restore_handlers() {
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &g_saved.stop[i], nullptr);
  }
  sigaction(SIGXFSZ, &g_saved.xfsz, nullptr);
}

// Holds the stop signals back while the reports are renamed, so that a run is either
// interrupted before its reports replace the earlier ones or after all three have.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kStopSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t old_{};
};

std::string error_text(int err) {
  return std::strerror(err != 0 ? err : EIO);
}

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

ReportSet::ReportSet() {
  install_handlers();
}

ReportSet::~ReportSet() {
  discard();
  restore_handlers();
}

void ReportSet::create() {
  live_ = true;
  g_temporaries_live = 1;
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
  const SignalBlock block;
  for (std::size_t i = 0; i < kReportNames.size(); ++i) {
    if (std::rename(kTemporaryNames[i], kReportNames[i]) != 0) {
      const int err = errno;
      throw Fatal{std::string(" CANNOT REPLACE THE REPORT FILE \"") + kReportNames[i] +
                      "\": " + error_text(err) + ".",
                  " EXECUTION INTERRUPTED."};
    }
  }
  live_ = false;
  g_temporaries_live = 0;
}

void ReportSet::discard() noexcept {
  if (!live_) return;
  files_.out1.reset();
  files_.out2.reset();
  files_.out3.reset();
  for (const char* name : kTemporaryNames) ::unlink(name);
  live_ = false;
  g_temporaries_live = 0;
}

void remove_stale_report_files() {
  for (const char* name : kTemporaryNames) ::unlink(name);
}

InputLock::InputLock(const char* file) : fd_(::open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
  // Where the file system offers no locks, the run goes on unlocked.
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd_);
    fd_ = -1;
    throw Fatal{
        std::string(" ANOTHER ORVUS RUN IS USING THIS DIRECTORY (\"") + file + "\" IS LOCKED).",
        " EXECUTION INTERRUPTED."};
  }
}

InputLock::~InputLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace orvus
