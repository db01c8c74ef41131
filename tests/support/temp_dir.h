// A private directory under $TMPDIR (or /tmp), removed with its contents
// when the object goes away.
#pragma once

#include <string>

namespace zivorna::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  // path() + "/" + name.
  [[nodiscard]] std::string File(const std::string& name) const;
  // Writes `bytes` to File(name) and returns that path ("" on failure).
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

}  // namespace zivorna::testing
