// A fresh folder of its own for each test, under the system's temporary
// folder ($TMPDIR, else /tmp; on Windows the user's temporary folder), made
// with a unique name so that parallel and repeated runs never meet, and
// removed with its contents when the object goes.
#pragma once

#include <string>

namespace testkit {

class TempFolder {
 public:
  TempFolder();
  // Under `parent` instead, for a test that needs another file system.
  explicit TempFolder(const std::string& parent);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // `name` below the folder, joined with '/' (which Windows takes too).
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace testkit
