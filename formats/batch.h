// Batch conversion of many files into one output folder, shared by the
// command line and the viewer's batch dialog.
//
// Each input is loaded, given the colour depth that the output type needs,
// and written as <output folder>/<base name><extension of the type>, where
// the base name is the file name up to its last dot. A run never destroys
// what it reads and never silently overwrites its own work: an output that
// resolves to the input file itself, or that another input of the same run
// already produced, fails instead. Files that existed before the run are
// replaced (only once the new file is complete).
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "engine/options.h"

// The extension a batch gives files of the type (".wif", ".jpg", ".tif", ...),
// or "" for a type without one.
const char* vxBatchExtension(int type);
// <outDir>/<base name of input><extension>.
std::string vxBatchOutputPath(const std::string& input, const std::string& outDir, int type);

struct vxBatchResult {
  enum Status { Written, Failed };
  Status status = Failed;
  bool converted = false;  // the colour depth was changed first
  std::string output;      // the path written (or that would have been)
  std::string reason;      // why it failed
};

class vxBatchRun {
 public:
  // Converts one file (thread-safe). `options` may be null: WIF then uses
  // quality 50 and JPEG quality 80.
  vxBatchResult Convert(const std::string& input, const std::string& outDir, int type,
                        const vxSaveOptions* options);

 private:
  // Reserves an output path for this run; false when another input already has it.
  bool Claim(const std::string& output, const std::string& input, std::string& owner);

  std::mutex mutex_;
  std::set<std::pair<std::string, std::string>> claimed_;  // (output, input)
};
