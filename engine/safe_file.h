// Replacing a file without ever losing it: a temporary file is created
// exclusively beside the target, written, and renamed over the target only
// when everything was written.
#pragma once

#include <functional>
#include <string>

class vxTempFile {
 public:
  // Creates an empty temporary file in the folder of `target` (following a
  // symbolic link to the file it names). path() is empty when that failed;
  // error() then says why.
  explicit vxTempFile(const std::string& target);
  // Removes the temporary file unless it was committed.
  ~vxTempFile();
  vxTempFile(const vxTempFile&) = delete;
  vxTempFile& operator=(const vxTempFile&) = delete;

  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

  // Flushes the temporary file to disk when it replaces a file, gives it the
  // target's permissions (or the usual ones for a new file) and renames it
  // over the target.
  // 0 on success; -1 on failure, with the temporary file removed.
  int Commit();

 private:
  std::string target_;
  std::string path_;
  std::string error_;
  bool committed_ = false;
};

// Writes `fileName` by way of a vxTempFile: `write` writes the temporary
// file it is given and returns 0 on success or a failure code (setting the
// last error), and the target is replaced only after a success. Returns 0,
// the failure code of `write`, or -1 when the temporary file cannot be
// created or committed; the last error always says why.
int vxWriteReplacing(const char* fileName, const std::function<int(const char* tempPath)>& write);
