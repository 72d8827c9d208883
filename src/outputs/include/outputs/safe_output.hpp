// Safe output for the program's reports and the planner's output folder: temporaries that a
// stop signal removes, the stop signals held back while finished outputs are renamed into
// place, a file-size limit turned into a write error, exclusive locks, and files whose every
// write is checked. POSIX only (flock, sigaction). Part of the outputs layer, not of the
// library's API: a process that writes through it has its signal actions changed meanwhile.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace orvus::io {

// Temporaries of a run that a stop signal removes. While one object lives, SIGINT, SIGTERM and
// SIGHUP (those left at their default action: a signal the process was started to ignore, or
// one a host such as Python handles, stays as it is) remove the armed temporaries and end the
// process by the same signal; SIGXFSZ is ignored, so that a file-size limit makes the write
// fail with EFBIG, which the caller reports, instead of ending the run with a file cut short.
// The actions are restored when the last object ends. A few objects may live at once; a
// forked child does not remove its parent's temporaries.
class StopCleanup {
 public:
  // `message`: a line written to standard error when a stop signal removes the temporaries
  // before they were put in place (empty: none).
  explicit StopCleanup(std::string_view message = {});
  ~StopCleanup();
  StopCleanup(const StopCleanup&) = delete;
  StopCleanup& operator=(const StopCleanup&) = delete;

  // A path removed on a stop signal once armed: a file, or (`folder`) a folder with everything
  // in it. At most four, each shorter than PATH_MAX; relative paths are taken in the working
  // directory.
  void add(const std::string& path, bool folder = false);
  void arm() noexcept;
  void disarm() noexcept;
  // Runs `replace` (the renames that put finished outputs in place) with the stop signals held
  // back: on this thread blocked, on any other the handler waits until it returns. A stop
  // signal thus comes before every rename or after all of them; after `replace` returns
  // normally the temporaries are still removed on a signal, without the message.
  void replace(const std::function<void()>& replace);

 private:
  int slot_ = -1;
};

// Removes a folder with everything in it, or a file, without following links (as the signal
// handler does); errors are ignored.
void remove_tree(const std::string& path) noexcept;

// An exclusive lock (flock) on a file or folder, held while the object lives. Where the path
// cannot be opened or its file system offers no locks, nothing is held and busy() is false.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const std::string& path);
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  // Another process, or another lock of this one, holds it.
  [[nodiscard]] bool busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};

// strerror of an errno value, EIO's text for 0.
std::string error_text(int err);

// A new file (never one that exists, nor through a link) written through a stream whose
// every write is checked: the first failure's errno is kept and writing stops there.
class CheckedFile {
 public:
  // Raises nothing: a file that cannot be created shows as error() != 0.
  explicit CheckedFile(const std::string& path);
  ~CheckedFile();
  CheckedFile(const CheckedFile&) = delete;
  CheckedFile& operator=(const CheckedFile&) = delete;
  std::ostream& stream();
  // Flushes and closes; the errno of the first failure, or 0.
  int close();
  [[nodiscard]] int error() const;

 private:
  struct Buffer;
  std::unique_ptr<Buffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

}  // namespace orvus::io
