#include "lookup/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace zivorna {
namespace {

std::optional<std::filesystem::path> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::filesystem::path path(value);
  if (!path.is_absolute()) return std::nullopt;  // relative values are ignored
  return path;
}

// Creates `folder` (parents with default modes, the folder itself 0700) and
// checks that it is a directory owned by this user.
bool PrepareFolder(const std::filesystem::path& folder) {
  std::error_code error;
  if (folder.has_parent_path()) std::filesystem::create_directories(folder.parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

bool WriteAll(int fd, const ByteSet& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

void SyncFolder(const std::filesystem::path& folder) {
  // Makes the rename itself durable; a failure here loses nothing visible.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

std::filesystem::path DefaultResultFolder() {
  if (auto cache = AbsoluteFromEnvironment("XDG_CACHE_HOME")) return *cache / "zivorna";
  if (auto home = AbsoluteFromEnvironment("HOME")) return *home / ".cache" / "zivorna";
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error || temp.empty()) temp = "/tmp";
  return temp / ("zivorna-" + std::to_string(::geteuid()));
}

std::optional<std::filesystem::path> WriteResultFile(const std::filesystem::path& folder,
                                                     const ByteSet& bytes) {
  if (folder.empty() || !PrepareFolder(folder)) return std::nullopt;
  const std::filesystem::path target = folder / kResultFileName;
  std::string temporary = (folder / ("." + std::string(kResultFileName) + ".XXXXXX")).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return std::nullopt;
  }
  SyncFolder(folder);
  return target;
}

}  // namespace zivorna
