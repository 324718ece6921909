// Temporary folders for tests, and the asset files the manager window loads.
#pragma once

#include <string>
#include <vector>

namespace zandrel::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to Path() + "/" + relative, creating folders on the way;
  // returns the full path.
  std::string WriteFile(const std::string& relative, const std::string& bytes) const;

 private:
  std::string path_;
};

// The smallest PNG the headless loader accepts: signature and IHDR chunk.
std::string TinyPng(int width, int height);

// The manager window's button pictures, as "\Pic" names ("\k01-1.g", ...).
const std::vector<std::string>& ManagerPictureNames();
// Writes every picture of ManagerPictureNames() into folder/Pic.
void WriteManagerPictures(const TempDir& folder);

}  // namespace zandrel::testing
