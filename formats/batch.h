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

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "engine/options.h"

// The extension a batch gives files of the type (".wif", ".jpg", ".tif", ...),
// or "" for a type without one.
const char* vxBatchExtension(int type);
// <outDir>/<base name of input><extension>.
std::string vxBatchOutputPath(const std::string& input, const std::string& outDir, int type);
// Whether a batch can write files of the type (GIF is read-only, and a type
// whose format class has not been built has no writer). When it cannot,
// `reason` says why.
bool vxBatchCanWrite(int type, std::string* reason = nullptr);

struct vxBatchResult {
  enum Status { Written, Failed };
  Status status = Failed;
  bool converted = false;  // the colour depth was changed first
  int bitCount = 0;        // bits per pixel of the picture written
  std::string output;      // the path written (or that would have been)
  std::string reason;      // why it failed
};

// What a conversion is doing, reported as it goes so that a caller can show
// it (the dialog shows a distinct icon while the colour depth changes).
enum class vxBatchStage {
  Loading,          // reading the input
  ConvertingDepth,  // changing the colour depth for the output type
  Saving,           // writing the output
};
using vxBatchStageCallback = std::function<void(vxBatchStage)>;

class vxBatchRun {
 public:
  // Converts one file (thread-safe). `options` may be null: WIF then uses
  // quality 50 and JPEG quality 80. `stage`, when set, is called on the
  // converting thread at the start of each stage.
  vxBatchResult Convert(const std::string& input, const std::string& outDir, int type,
                        const vxSaveOptions* options, const vxBatchStageCallback& stage = {});

  // Reserves the output of `input` for it before anything is converted, so
  // that when several inputs of a parallel run share a base name the first
  // one in the caller's order gets the output, whichever thread comes first.
  // False (with the input that holds it in `owner`) when it is taken.
  bool Reserve(const std::string& input, const std::string& outDir, int type,
               std::string* owner = nullptr);

 private:
  // Reserves an output path for this run; false when another input already has it.
  bool Claim(const std::string& output, const std::string& input, std::string& owner);

  struct Owner {
    std::string canonical;  // the input's canonical path
    std::string given;      // the input as the caller named it
  };
  std::mutex mutex_;
  std::map<std::string, Owner> claimed_;  // by the output's canonical path
};
