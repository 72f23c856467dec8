// A whole file read in place through the system's page cache.
//
// Mapping a large file costs neither a copy nor fresh memory of the
// process's own, which reading it into a buffer does: on a large picture
// that is a good part of the time of converting it. The danger of a mapping
// is a file that shrinks (or whose storage fails) while it is read: the
// pages that are gone would stop the process. Here such a page reads as
// zeros instead, and Damaged() says that it happened, so that the caller
// can refuse what it made of the file.
#pragma once

#include <cstddef>
#include <cstdint>

class vxMappedFile {
 public:
  vxMappedFile() = default;
  ~vxMappedFile() { Close(); }
  vxMappedFile(const vxMappedFile&) = delete;
  vxMappedFile& operator=(const vxMappedFile&) = delete;

  // Maps the regular file `fileName`, read-only. False when it cannot be
  // opened, is not a regular file, is empty, or cannot be mapped (too many
  // files mapped at once among them); errno then says why.
  bool Open(const char* fileName);
  void Close();

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // True when some of the mapping could not be read since Open: those pages
  // read as zeros.
  bool Damaged() const;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  int slot_ = -1;
};
