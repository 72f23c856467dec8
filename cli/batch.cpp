// lunark batch --to TYPE --out DIR [--quality Q] [--levels N] [--jobs N] FILE|DIR...
// Converts many files on several threads, with a progress bar on a terminal,
// one line per failure and a summary; exits 1 when any file failed. A folder
// named among the inputs stands for the image files in it (recognised by
// their content, in name order, without descending into sub-folders).
#include "formats/batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "engine/notice.h"
#include "engine/threads.h"

namespace cli {

namespace {

class Progress {
 public:
  explicit Progress(size_t total) : total_(total), tty_(isatty(STDERR_FILENO) != 0) {}

  void Done() {
    std::lock_guard lock(mutex_);
    ++done_;
    Draw();
  }
  void Failure(const std::string& file, const std::string& reason) {
    std::lock_guard lock(mutex_);
    Clear();
    Fail(file, reason);
    Draw();
  }
  void Finish() {
    std::lock_guard lock(mutex_);
    Clear();
  }

 private:
  void Clear() {
    if (tty_ && drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }
  void Draw() {
    if (!tty_) return;
    constexpr int kWidth = 30;
    const int filled = total_ ? static_cast<int>(kWidth * done_ / total_) : kWidth;
    std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu", filled, "##############################",
                 kWidth - filled, "", done_, total_);
    std::fflush(stderr);
    drawn_ = true;
  }

  std::mutex mutex_;
  size_t total_;
  size_t done_ = 0;
  bool tty_;
  bool drawn_ = false;
};

// The image files of a folder, by content, sorted by name.
std::vector<std::string> ImagesIn(const std::string& folder, std::string& error) {
  std::vector<std::string> found;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    error = "cannot read the folder: " + ec.message();
    return found;
  }
  for (const auto& entry : it) {
    std::error_code typeError;
    if (!entry.is_regular_file(typeError)) continue;
    const std::string path = entry.path().string();
    if (vxImage::GetFileType(path.c_str()) >= 0) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

int RunBatch(const Args& args) {
  std::string to, out, qualityText, levelsText, jobsText;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--to"        ? &to
                          : a == "--out"     ? &out
                          : a == "--quality" ? &qualityText
                          : a == "--levels"  ? &levelsText
                          : a == "--jobs"    ? &jobsText
                                             : nullptr;
    if (target) {
      if (i + 1 >= args.size()) {
        Fail("", "batch: " + a + " needs a value");
        return 2;
      }
      *target = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      Fail("", "batch: unknown option " + a + " (see lunark --help)");
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (to.empty() || out.empty() || files.empty()) {
    Fail("", "batch: give --to TYPE, --out DIR and at least one file (see lunark --help)");
    return 2;
  }
  const int type = TypeFromName(to);
  if (type < 0) {
    Fail("", "batch: unknown type '" + to + "'");
    return 2;
  }
  if (type == TypeGIF) {
    Fail("", "batch: GIF is a read-only format here; choose another output type");
    return 2;
  }
  if (!IsWritableType(type)) {
    Fail("", std::string("batch: no writer for ") + TypeName(type) + " files");
    return 2;
  }
  vxSaveOptions options;
  options.quality = type == TypeJPEG ? vxDefaultJpegQuality : vxDefaultWifQuality;
  const int qualityHigh = type == TypeJPEG ? 100 : 255;
  if (!qualityText.empty() && (!ParseInt(qualityText, options.quality) || options.quality < 1 ||
                               options.quality > qualityHigh)) {
    Fail("", "batch: quality must be a whole number from 1 to " + std::to_string(qualityHigh) +
                 ", not '" + qualityText + "'");
    return 2;
  }
  if (!levelsText.empty() &&
      (!ParseInt(levelsText, options.levels) || options.levels < 1 || options.levels > 8)) {
    Fail("", "batch: wavelet levels must be a whole number from 1 to 8, not '" + levelsText + "'");
    return 2;
  }
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (!jobsText.empty() && (!ParseInt(jobsText, jobs) || jobs < 1 || jobs > 256)) {
    Fail("", "batch: --jobs takes a number from 1 to 256, not '" + jobsText + "'");
    return 2;
  }
  std::vector<std::string> inputs;
  for (const std::string& name : files) {
    std::error_code dirError;
    if (!std::filesystem::is_directory(name, dirError)) {
      inputs.push_back(name);
      continue;
    }
    std::string error;
    const std::vector<std::string> images = ImagesIn(name, error);
    if (!error.empty()) {
      Fail(name, error);
      return 1;
    }
    inputs.insert(inputs.end(), images.begin(), images.end());
  }
  files.swap(inputs);
  if (files.empty()) {
    Fail("", "batch: no image files to convert");
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (!std::filesystem::is_directory(out)) {
    Fail(out, "the output folder does not exist and cannot be created");
    return 1;
  }

  vxBatchRun run;
  // Outputs go to the inputs in command-line order, so that of two inputs
  // with one base name the first always wins, whatever the thread timing.
  for (const std::string& file : files) run.Reserve(file, out, type);
  Progress progress(files.size());
  std::atomic<size_t> next{0}, written{0}, converted{0}, failed{0};
  auto worker = [&] {
    for (size_t i = next++; i < files.size(); i = next++) {
      vxNoticeFileScope scope(files[i]);
      const vxBatchResult r = run.Convert(files[i], out, type, &options);
      if (r.status == vxBatchResult::Written) {
        ++(r.converted ? converted : written);
      } else {
        ++failed;
        progress.Failure(files[i], r.reason);
      }
      progress.Done();
    }
  };
  std::vector<std::thread> threads;
  const int count = std::min<int>(jobs, static_cast<int>(files.size()));
  // Several files at once already fill the cores: each picture is then
  // loaded, coded and saved on its caller's thread instead of starting
  // threads of its own.
  if (count > 1 && !std::getenv("LUNARK_THREADS") && !std::getenv("LUNARK_WIF_THREADS")) {
    vxSetWorkerThreads(1);
  }
  for (int t = 1; t < count; ++t) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
  progress.Finish();
  std::fprintf(stderr, "lunark: %zu converted, %zu converted after a depth change, %zu failed\n",
               written.load(), converted.load(), failed.load());
  return failed ? 1 : 0;
}

}  // namespace cli
