// A planner's run in its output folder: the lock, the temporary folder, checked writes and
// the outputs renamed into place together; the reports' folder names and their index.
#include "outputs/plan_outputs.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "orvus/error.hpp"
#include "outputs/safe_output.hpp"
#include "outputs/world_atlas.hpp"
#include "plan_page.hpp"

namespace orvus::plan_outputs {

namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 3> kFiles = {"opportunities.csv", "opportunities.geojson",
                                               "opportunities.html"};
// Written by the runs whose plans call for them; otherwise an earlier one is removed.
constexpr std::array<const char*, 1> kOptional = {"passes.csv"};
// The coverage's files: written together by the runs of plans with [coverage], otherwise
// earlier ones are removed.
constexpr std::array<const char*, 4> kCoverage = {"coverage_cells.csv", "coverage_cells.geojson",
                                                  "coverage.csv", "coverage_summary.csv"};
// Likewise, the schedule's files (written together).
constexpr std::array<const char*, 4> kScheduleFiles = {"schedule.csv", "unscheduled.csv",
                                                       "schedule.geojson", "schedule.json"};

// Every optional output's name.
std::vector<const char*> optional_files() {
  std::vector<const char*> out(kOptional.begin(), kOptional.end());
  out.insert(out.end(), kCoverage.begin(), kCoverage.end());
  out.insert(out.end(), kScheduleFiles.begin(), kScheduleFiles.end());
  return out;
}
constexpr const char* kReports = "reports";
constexpr const char* kInterrupted = " EXECUTION INTERRUPTED.";
constexpr const char* kKept = " THE EARLIER OUTPUTS ARE LEFT AS THEY WERE.";

[[noreturn]] void fail(const std::string& line, const std::string& file, bool kept = false) {
  std::vector<std::string> lines{line};
  if (kept) lines.emplace_back(kKept);
  lines.emplace_back(kInterrupted);
  throw Error(ErrorKind::io, std::move(lines), ErrorWhere(file));
}

// The text and the path in quotes.
std::string named(std::string_view text, const std::string& path) {
  std::string out(text);
  out += '"';
  out += path;
  out += '"';
  return out;
}

// The folder made where needed; its absolute path.
fs::path make_folder(const std::string& dir) {
  if (dir.empty()) fail(" THE OUTPUT FOLDER IS NOT NAMED.", dir);
  std::error_code ec, ignored;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ignored)) {
    if (fs::exists(dir, ignored)) {
      fail(named(" THE OUTPUT FOLDER ", dir) + " IS NOT A FOLDER.", dir);
    }
    fail(named(" CANNOT CREATE THE OUTPUT FOLDER ", dir) + ": " + ec.message() + ".", dir);
  }
  fs::path abs = fs::absolute(dir, ec);
  if (ec) fail(named(" CANNOT FIND THE OUTPUT FOLDER ", dir) + ": " + ec.message() + ".", dir);
  return abs;
}

bool present(const fs::path& p, bool* folder = nullptr) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return false;
  if (folder != nullptr) *folder = S_ISDIR(st.st_mode);
  return true;
}

// The device and inode of a path, following a symbolic link or not; none when it is not there.
std::optional<std::pair<dev_t, ino_t>> identity(const fs::path& p, bool follow) {
  struct stat st {};
  if ((follow ? ::stat(p.c_str(), &st) : ::lstat(p.c_str(), &st)) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

// The files a plan reads, each with the words that name it.
std::vector<std::pair<std::string, std::string>> plan_inputs(const Plan& plan) {
  std::vector<std::pair<std::string, std::string>> out = {
      {"PLAN FILE", plan.path},
      {"TARGET FILE", plan.targets_path},
      {"EARTH-ORIENTATION FILE", plan.earth_orientation_path}};
  for (const PlanSatellite& s : plan.satellites) out.emplace_back("ELEMENT FILE", s.elements_path);
  return out;
}

// Whether `input` is the file `output`: the same entry, or the same file once symbolic links
// are followed.
bool same_file(const fs::path& input, const fs::path& output) {
  const auto out_entry = identity(output, false);
  if (!out_entry) return false;
  const auto in_entry = identity(input, false);
  if (in_entry && in_entry == out_entry) return true;
  const auto in_file = identity(input, true);
  return in_file && in_file == identity(output, true);
}
// Whether `input` lies in `folder`: the folder is one above it, as written or once resolved.
bool inside(const fs::path& input, const fs::path& folder) {
  const auto id = identity(folder, true);
  if (!id) return false;
  std::error_code ec;
  for (const fs::path& p : {fs::absolute(input, ec).lexically_normal(), fs::canonical(input, ec)}) {
    if (p.empty()) continue;
    for (fs::path up = p; !up.empty(); up = up.parent_path()) {
      if (identity(up, true) == id) return true;
      if (up == up.parent_path()) break;
    }
  }
  return false;
}

// How one output was put in place (or an earlier one taken away), so that it can be taken
// back.
enum class How { added, exchanged, moved_aside, removed };
struct Placed {
  fs::path from, to, aside;
  How how;
};

bool exchange(const fs::path& a, const fs::path& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

void take_back(const Placed& p) noexcept {
  switch (p.how) {
    case How::added:
      std::rename(p.to.c_str(), p.from.c_str());
      break;
    case How::exchanged:
      exchange(p.from, p.to);
      break;
    case How::moved_aside:
      std::rename(p.to.c_str(), p.from.c_str());
      std::rename(p.aside.c_str(), p.to.c_str());
      break;
    case How::removed:
      std::rename(p.aside.c_str(), p.to.c_str());
      break;
  }
}

// ---- folder names ----

bool safe_char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

// Every character that is not safe becomes one '_': a UTF-8 sequence counts as one, a byte
// that starts none as one.
std::string safe_form(std::string_view id) {
  std::string out;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const auto c = static_cast<unsigned char>(id[i]);
    if (safe_char(c)) {
      out += static_cast<char>(c);
      continue;
    }
    out += '_';
    const int more = c >= 0xF0 && c <= 0xF4   ? 3
                     : c >= 0xE0 && c <= 0xEF ? 2
                                              : c >= 0xC2 && c <= 0xDF;
    for (int k = 0; k < more && i + 1 < id.size(); ++k) {
      const auto next = static_cast<unsigned char>(id[i + 1]);
      if (next < 0x80 || next > 0xBF) break;
      ++i;
    }
  }
  return out;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// 32-bit FNV-1a of the bytes, as 8 hexadecimal digits.
std::string fnv1a(std::string_view bytes) {
  std::uint32_t h = 2166136261U;
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619U;
  }
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(h));
  return buf;
}

}  // namespace

OutputFolder::OutputFolder(const Plan& plan, const std::string& dir, bool reports,
                           std::string_view stop_message)
    : dir_(dir), abs_(make_folder(dir)), stage_(abs_ / kStagingName), reports_(reports) {
  lock_ = std::make_unique<io::ExclusiveLock>(abs_.string());
  if (lock_->busy()) {
    fail(named(" ANOTHER PLANNER IS WRITING TO THE OUTPUT FOLDER ", dir) + " (IT IS LOCKED).", dir);
  }
  // Only a folder can be put in place of a folder, and only a file in place of a file.
  std::vector<const char*> files(kFiles.begin(), kFiles.end());
  for (const char* name : optional_files()) files.push_back(name);
  for (const char* name : files) {
    bool folder = false;
    if (present(abs_ / name, &folder) && folder) {
      fail(named(" ", shown(name)) + " IS A FOLDER: THE RUN COULD NOT REPLACE IT.", dir);
    }
  }
  bool folder = true;
  if (reports_ && present(abs_ / kReports, &folder) && !folder) {
    fail(named(" ", shown(kReports)) + " IS NOT A FOLDER: THE RUN COULD NOT REPLACE IT.", dir);
  }
  // No output may take the place of an input: every output's name is replaced (or, when the
  // run does not write it, removed), the reports' folder replaced whole and the temporary
  // folder removed.
  for (const auto& [kind, path] : plan_inputs(plan)) {
    const auto refuse = [&](std::string_view what, std::string_view output, const char* name) {
      fail(" THE RUN WOULD " + std::string(what) + " ITS " + kind + " \"" + printable(path, 200) +
               "\" WITH " + named(output, shown(name)) + ".",
           path);
    };
    for (const char* name : files) {
      if (same_file(path, abs_ / name)) refuse("REPLACE", "ITS OUTPUT ", name);
    }
    if (reports_ && inside(path, abs_ / kReports)) {
      refuse("REPLACE", "ITS OUTPUT FOLDER ", kReports);
    }
    if (inside(path, stage_)) refuse("REMOVE", "ITS TEMPORARY FOLDER ", kStagingName);
  }
  // Under the lock, nobody else can be writing the temporaries: what is there, a killed run
  // left.
  io::remove_tree(stage_.string());
  cleanup_ = std::make_unique<io::StopCleanup>(stop_message);
  cleanup_->add(stage_.string(), true);
  cleanup_->arm();
  if (::mkdir(stage_.c_str(), 0777) != 0 ||
      (reports_ && ::mkdir((stage_ / kReports).c_str(), 0777) != 0)) {
    const int err = errno;
    io::remove_tree(stage_.string());
    fail(named(" CANNOT WRITE IN THE OUTPUT FOLDER ", dir) + ": " + io::error_text(err) + ".", dir);
  }
}

OutputFolder::~OutputFolder() {
  if (!committed_) io::remove_tree(stage_.string());
  if (cleanup_) cleanup_->disarm();
}

fs::path OutputFolder::staged(const std::string& relative) const {
  return stage_ / relative;
}

std::string OutputFolder::shown(const std::string& relative) const {
  return (fs::path(dir_) / relative).string();
}

void OutputFolder::write(const std::string& relative,
                         const std::function<void(std::ostream&)>& body) {
  io::CheckedFile file(staged(relative).string());
  try {
    if (file.error() == 0) body(file.stream());
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    fail(named(" CANNOT WRITE ", shown(relative)) + ": " + e.what() + ".", shown(relative), true);
  }
  const int err = file.close();
  if (err != 0) {
    fail(named(" CANNOT WRITE ", shown(relative)) + ": " + io::error_text(err) + ".",
         shown(relative), true);
  }
  written_.push_back(relative);
}

void OutputFolder::write_opportunities(const Plan& plan, const std::vector<Opportunity>& kept,
                                       const CoverageGrid* grid, const CoverageResult* coverage) {
  write(kFiles[0], [&](std::ostream& out) { write_opportunities_csv(plan, kept, out); });
  write(kFiles[1], [&](std::ostream& out) { write_opportunities_geojson(plan, kept, out); });
  write(kFiles[2], [&](std::ostream& out) {
    out << plan_page::page_html(plan, kept, grid, coverage, schedule_, schedule_passes_);
  });
}

void OutputFolder::write_schedule(const Plan& plan, const std::vector<PlanPass>& passes,
                                  const PlanSchedule& schedule) {
  write(kScheduleFiles[0],
        [&](std::ostream& out) { write_schedule_csv(plan, passes, schedule, out); });
  write(kScheduleFiles[1], [&](std::ostream& out) { write_unscheduled_csv(plan, schedule, out); });
  write(kScheduleFiles[2],
        [&](std::ostream& out) { write_schedule_geojson(plan, passes, schedule, out); });
  write(kScheduleFiles[3], [&](std::ostream& out) { write_schedule_json(plan, schedule, out); });
  schedule_ = &schedule;
  schedule_passes_ = &passes;
}

void OutputFolder::write_passes(const Plan& plan, const std::vector<PlanPass>& passes) {
  write(kOptional[0], [&](std::ostream& out) { write_passes_csv(plan, passes, out); });
}

void OutputFolder::write_coverage(const Plan& plan, const CoverageGrid& grid,
                                  const CoverageResult& result) {
  write(kCoverage[0],
        [&](std::ostream& out) { write_coverage_cells_csv(plan, grid, result, out); });
  write(kCoverage[1],
        [&](std::ostream& out) { write_coverage_cells_geojson(plan, grid, result, out); });
  write(kCoverage[2], [&](std::ostream& out) { write_coverage_csv(plan, grid, result, out); });
  write(kCoverage[3],
        [&](std::ostream& out) { write_coverage_summary_csv(plan, grid, result, out); });
}

void OutputFolder::write_run(const Plan& plan, const PlanRun& run, const CoverageGrid* grid) {
  if (!plan.stations.empty()) write_passes(plan, run.passes);
  // The schedule before the page, which shows it.
  if (run.schedule) write_schedule(plan, run.passes, *run.schedule);
  const CoverageResult* coverage = run.coverage ? &*run.coverage : nullptr;
  write_opportunities(plan, run.opportunities, coverage ? grid : nullptr, coverage);
  if (coverage && grid != nullptr) write_coverage(plan, *grid, *coverage);
}

void OutputFolder::put_in_place() {
  std::vector<std::string> names(kFiles.begin(), kFiles.end());
  std::vector<std::string> stale;  // earlier optional outputs this run did not write
  for (const char* name : optional_files()) {
    if (std::find(written_.begin(), written_.end(), name) != written_.end()) {
      names.emplace_back(name);
    } else {
      bool folder = true;
      if (present(abs_ / name, &folder) && !folder) stale.emplace_back(name);
    }
  }
  if (reports_) names.emplace_back(kReports);
  std::vector<Placed> done;
  // First the stale outputs go aside into the temporary folder, removed with it.
  for (const std::string& name : stale) {
    const Placed p{stage_ / name, abs_ / name, stage_ / (name + ".earlier"), How::removed};
    if (std::rename(p.to.c_str(), p.aside.c_str()) != 0) {
      const int err = errno;
      for (auto it = done.rbegin(); it != done.rend(); ++it) take_back(*it);
      fail(named(" CANNOT REMOVE THE EARLIER ", shown(name)) + ": " + io::error_text(err) + ".",
           shown(name), true);
    }
    done.push_back(p);
  }
  for (const std::string& name : names) {
    Placed p{stage_ / name, abs_ / name, stage_ / (name + ".earlier"), How::added};
    bool ok = false;
    if (!present(p.to)) {
      ok = std::rename(p.from.c_str(), p.to.c_str()) == 0;
    } else if (exchange(p.from, p.to)) {
      p.how = How::exchanged;
      ok = true;
    } else if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
      // A file system that cannot exchange two names: the earlier output moved aside first.
      p.how = How::moved_aside;
      ok = std::rename(p.to.c_str(), p.aside.c_str()) == 0;
      if (ok && std::rename(p.from.c_str(), p.to.c_str()) != 0) {
        const int err = errno;
        std::rename(p.aside.c_str(), p.to.c_str());
        errno = err;
        ok = false;
      }
    }
    if (!ok) {
      const int err = errno;
      for (auto it = done.rbegin(); it != done.rend(); ++it) take_back(*it);
      fail(named(" CANNOT PUT ", shown(name)) + " IN PLACE: " + io::error_text(err) + ".",
           shown(name), true);
    }
    done.push_back(p);
  }
}

void OutputFolder::commit() {
  for (const char* name : kFiles) {
    if (std::find(written_.begin(), written_.end(), name) == written_.end()) {
      fail(std::string(" THE RUN DID NOT WRITE \"") + name + "\".", shown(name), true);
    }
  }
  cleanup_->replace([this] { put_in_place(); });
  committed_ = true;
  // What is left in the temporary folder is the earlier outputs.
  io::remove_tree(stage_.string());
}

CoverageGrid coverage_grid(const Plan& plan) {
  if (!plan.coverage || !plan.coverage->land) return orvus::coverage_grid(plan);
  static const std::vector<Polygon> land = [] {
    std::vector<Polygon> out;
    for (const auto& rings : page::land_polygons()) {
      Polygon& poly = out.emplace_back();
      for (const page::Line& ring : rings) {
        Ring& r = poly.emplace_back();
        for (const page::Point& p : ring) r.push_back({p.lon_deg, p.lat_deg});
      }
    }
    return out;
  }();
  return orvus::coverage_grid(plan, &land);
}

std::vector<std::string> report_folders(const Plan& plan) {
  constexpr std::size_t kLongest = 80;  // bytes of the id's safe form kept
  const std::size_t n = plan.targets.size();
  std::vector<std::string> names(n);
  std::vector<bool> hashed(n);
  std::map<std::string, int> plain;  // lower-case plain names and how many ids give each
  for (std::size_t t = 0; t < n; ++t) {
    const std::string& id = plan.targets[t].id;
    names[t] = safe_form(id);
    hashed[t] = names[t] != id || names[t].size() > kLongest;
    if (!hashed[t]) ++plain[lower(names[t])];
  }
  std::set<std::string> used;
  for (std::size_t t = 0; t < n; ++t) {
    // Names that differ only in case are one folder on some file systems.
    if (!hashed[t] && plain[lower(names[t])] > 1) hashed[t] = true;
    if (hashed[t]) names[t] = names[t].substr(0, kLongest) + "-" + fnv1a(plan.targets[t].id);
    // An id may read as another's hashed name: a name still taken gets a number.
    const std::string base = names[t];
    for (int k = 2; !used.insert(lower(names[t])).second; ++k) {
      names[t] = base + "-" + std::to_string(k);
    }
  }
  std::vector<std::string> out;
  out.reserve(plan.satellites.size() * n);
  for (std::size_t s = 0; s < plan.satellites.size(); ++s)
    for (std::size_t t = 0; t < n; ++t) out.push_back(std::to_string(s + 1) + "-" + names[t]);
  return out;
}

void write_report_index(const Plan& plan, const std::vector<std::string>& folders,
                        std::ostream& out) {
  out << "folder,satellite,target_id\n";
  const std::size_t n = plan.targets.size();
  for (std::size_t i = 0; i < folders.size(); ++i) {
    out << folders[i] << ',' << csv_field(plan.satellites.at(i / n).name) << ','
        << csv_field(plan.targets.at(i % n).id) << '\n';
  }
}

}  // namespace orvus::plan_outputs
