#include "engine/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "engine/notice.h"

namespace {

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process's file-creation mask, read without changing it (umask() would
// race with files created on other threads).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

std::string Reason(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// The path a chain of symbolic links ends at. The file there need not exist
// yet: saving through a dangling link creates the file it names, as writing
// through the link would, instead of replacing the link itself.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::vector<char> buffer(PATH_MAX);
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) break;
    const std::string link(buffer.data(), static_cast<size_t>(n));
    path = link[0] == '/' ? link : DirectoryOf(path) + "/" + link;
  }
  return path;
}

}  // namespace

vxTempFile::vxTempFile(const std::string& target) : target_(FollowLinks(target)) {
  std::string pattern = DirectoryOf(target_) + "/." + BaseOf(target_) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    error_ = Reason("cannot create a temporary file in", DirectoryOf(target_));
    return;
  }
  close(fd);
  path_ = name.data();
}

vxTempFile::~vxTempFile() {
  if (!committed_ && !path_.empty()) unlink(path_.c_str());
}

int vxTempFile::Commit() {
  if (path_.empty()) return -1;
  const int fd = open(path_.c_str(), O_RDWR | O_CLOEXEC);
  struct stat st;
  const bool replacing = stat(target_.c_str(), &st) == 0;
  // The new bytes must be on disk before they take the place of a file the
  // user has: a crash between the rename and a later write-back would leave
  // neither. A file that is new replaces nothing, and saving a batch of new
  // files does not wait for the disk after each one.
  if (fd < 0 || (replacing && fsync(fd) != 0)) {
    error_ = Reason("cannot flush", path_);
    if (fd >= 0) close(fd);
    return -1;
  }
  const mode_t mode = replacing ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  fchmod(fd, mode);
  close(fd);
  if (rename(path_.c_str(), target_.c_str()) != 0) {
    error_ = Reason("cannot replace", target_);
    return -1;
  }
  committed_ = true;
  return 0;
}

int vxWriteReplacing(const char* fileName, const std::function<int(const char* tempPath)>& write) {
  // Written into a fresh temporary file beside the target and renamed into
  // place only on complete success: a full disk or a failing share then
  // leaves the old file as it was.
  vxTempFile temp(fileName);
  if (temp.path().empty()) {
    vxSetLastError(temp.error());
    return -1;
  }
  int result = write(temp.path().c_str());
  if (result == 0 && temp.Commit() != 0) {
    vxSetLastError(temp.error());
    result = -1;
  }
  if (result != 0 && vxLastError().empty()) vxSetLastError("the file could not be written");
  return result;
}
