// Safe output: the stop-signal handler and its temporaries, locks and checked files.
#include "outputs/safe_output.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "orvus/error.hpp"

namespace orvus::io {

namespace {

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSlots = 8;
constexpr std::size_t kPaths = 4;

// The life of a slot. The handler reads only slots armed, replacing or placed.
enum SlotState : int { kFree, kIdle, kArmed, kReplacing, kPlaced };

struct Slot {
  std::atomic<int> state{kFree};
  pid_t pid = 0;
  std::size_t count = 0;
  std::array<std::array<char, PATH_MAX>, kPaths> paths{};
  std::array<bool, kPaths> folder{};
  std::array<char, 256> message{};
  std::size_t message_length = 0;
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");

std::array<Slot, kSlots> g_slots;
std::mutex g_mutex;  // guards claiming slots and the handlers' installation
int g_users = 0;
std::array<struct sigaction, 3> g_saved_stop{};
std::array<bool, 3> g_installed{};
struct sigaction g_saved_xfsz {};

bool is_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Async-signal-safe: unlinkat, openat, getdents64, lseek, close only (no allocation).
void remove_at(int dir_fd, const char* name, int depth) {
  if (::unlinkat(dir_fd, name, 0) == 0 || errno == ENOENT || depth > 16) return;
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  // Entries removed while the folder is read may hide others: read it again until it is gone.
  for (int pass = 0; pass < 3; ++pass) {
    alignas(struct dirent64) std::array<char, 2048> buf;
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
      const ssize_t n = ::getdents64(fd, buf.data(), buf.size());
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buf.data() + at);
        at += entry->d_reclen;
        if (!is_dot(entry->d_name)) remove_at(fd, entry->d_name, depth + 1);
      }
    }
    if (::unlinkat(dir_fd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) break;
  }
  ::close(fd);
}

extern "C" void stop_on_signal(int sig) {
  const int saved_errno = errno;
  const pid_t self = ::getpid();
  for (Slot& s : g_slots) {
    int state = s.state.load(std::memory_order_acquire);
    if (state < kArmed || s.pid != self) continue;
    // Another thread is putting outputs in place: wait until all of them are.
    while (state == kReplacing) {
      const timespec pause{0, 1000000};
      ::nanosleep(&pause, nullptr);
      state = s.state.load(std::memory_order_acquire);
    }
    if (state == kArmed && s.message_length > 0) {
      [[maybe_unused]] const ssize_t ignored = ::write(2, s.message.data(), s.message_length);
    }
    if (state == kArmed || state == kPlaced) {
      for (std::size_t i = 0; i < s.count; ++i) {
        if (s.folder[i]) {
          remove_at(AT_FDCWD, s.paths[i].data(), 0);
        } else {
          ::unlink(s.paths[i].data());
        }
      }
    }
  }
  errno = saved_errno;
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void install_handlers() {
  struct sigaction sa {};
  sa.sa_handler = stop_on_signal;
  sigemptyset(&sa.sa_mask);
  for (const int s : kStopSignals) sigaddset(&sa.sa_mask, s);
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], nullptr, &g_saved_stop[i]);
    g_installed[i] =
        (g_saved_stop[i].sa_flags & SA_SIGINFO) == 0 && g_saved_stop[i].sa_handler == SIG_DFL;
    if (g_installed[i]) sigaction(kStopSignals[i], &sa, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &g_saved_xfsz);
}

void restore_handlers() {
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    struct sigaction now {};
    sigaction(kStopSignals[i], nullptr, &now);
    // A handler set since (by a host) is left as it is.
    if (g_installed[i] && now.sa_handler == stop_on_signal) {
      sigaction(kStopSignals[i], &g_saved_stop[i], nullptr);
    }
  }
  sigaction(SIGXFSZ, &g_saved_xfsz, nullptr);
}

// Holds the stop signals back on this thread for its life.
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

}  // namespace

StopCleanup::StopCleanup(std::string_view message) {
  const std::lock_guard<std::mutex> lock(g_mutex);
  for (std::size_t i = 0; i < kSlots; ++i) {
    Slot& s = g_slots[i];
    if (s.state.load() != kFree) continue;
    s.pid = ::getpid();
    s.count = 0;
    s.message_length = std::min(message.size(), s.message.size());
    std::copy_n(message.begin(), s.message_length, s.message.begin());
    s.state.store(kIdle, std::memory_order_release);
    slot_ = static_cast<int>(i);
    break;
  }
  if (slot_ < 0) {
    throw Error(ErrorKind::io, {" TOO MANY RUNS WRITING OUTPUTS AT ONCE IN THIS PROCESS."});
  }
  if (g_users++ == 0) install_handlers();
}

StopCleanup::~StopCleanup() {
  const std::lock_guard<std::mutex> lock(g_mutex);
  g_slots[static_cast<std::size_t>(slot_)].state.store(kFree, std::memory_order_release);
  if (--g_users == 0) restore_handlers();
}

void StopCleanup::add(const std::string& path, bool folder) {
  Slot& s = g_slots[static_cast<std::size_t>(slot_)];
  if (s.count == kPaths || path.size() >= PATH_MAX || s.state.load() != kIdle) {
    throw Error(ErrorKind::io, {" THE TEMPORARY \"" + path + "\" CANNOT BE LOOKED AFTER."});
  }
  std::memcpy(s.paths[s.count].data(), path.c_str(), path.size() + 1);
  s.folder[s.count] = folder;
  ++s.count;
}

void StopCleanup::arm() noexcept {
  g_slots[static_cast<std::size_t>(slot_)].state.store(kArmed, std::memory_order_release);
}

void StopCleanup::disarm() noexcept {
  g_slots[static_cast<std::size_t>(slot_)].state.store(kIdle, std::memory_order_release);
}

void StopCleanup::replace(const std::function<void()>& replace) {
  std::atomic<int>& state = g_slots[static_cast<std::size_t>(slot_)].state;
  const SignalBlock block;
  state.store(kReplacing, std::memory_order_release);
  try {
    replace();
  } catch (...) {
    state.store(kArmed, std::memory_order_release);
    throw;
  }
  state.store(kPlaced, std::memory_order_release);
}

void remove_tree(const std::string& path) noexcept {
  remove_at(AT_FDCWD, path.c_str(), 0);
}

ExclusiveLock::ExclusiveLock(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd_);
    fd_ = -1;
    busy_ = true;
  }
}

ExclusiveLock::~ExclusiveLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string error_text(int err) {
  return std::strerror(err != 0 ? err : EIO);
}

// ---- checked files ----

struct CheckedFile::Buffer : std::streambuf {
  int fd = -1;
  int err = 0;
  std::vector<char> data = std::vector<char>(std::size_t{1} << 16);

  Buffer() { setp(data.data(), data.data() + data.size()); }

  bool drain() {
    const char* at = pbase();
    while (err == 0 && at < pptr()) {
      const ssize_t n = ::write(fd, at, static_cast<std::size_t>(pptr() - at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err = n < 0 && errno != 0 ? errno : EIO;
        break;
      }
      at += n;
    }
    setp(data.data(), data.data() + data.size());
    return err == 0;
  }
  int_type overflow(int_type ch) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }
  int sync() override { return drain() ? 0 : -1; }
};

CheckedFile::CheckedFile(const std::string& path)
    : buffer_(std::make_unique<Buffer>()), stream_(std::make_unique<std::ostream>(buffer_.get())) {
  buffer_->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (buffer_->fd < 0) {
    buffer_->err = errno != 0 ? errno : EIO;
    stream_->setstate(std::ios::badbit);
  }
}

CheckedFile::~CheckedFile() {
  if (buffer_->fd >= 0) ::close(buffer_->fd);
}

std::ostream& CheckedFile::stream() {
  return *stream_;
}

int CheckedFile::close() {
  if (buffer_->fd < 0) return buffer_->err;
  buffer_->drain();
  if (::close(buffer_->fd) != 0 && buffer_->err == 0) buffer_->err = errno != 0 ? errno : EIO;
  buffer_->fd = -1;
  return buffer_->err;
}

int CheckedFile::error() const {
  return buffer_->err;
}

}  // namespace orvus::io
