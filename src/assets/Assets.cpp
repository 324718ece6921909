#include "assets/Assets.h"

#include <algorithm>
#include <filesystem>

namespace zandrel::assets {

std::string AppPath(ui::Platform& platform) { return platform.ExecutableFolder(); }

std::string AssetPath(ui::Platform& platform, std::string_view folder, std::string_view file) {
  std::string path = AppPath(platform);
  path.append(folder);
  path.append(file);
  std::replace(path.begin() + static_cast<std::ptrdiff_t>(path.size() - folder.size() - file.size()), path.end(), '\\',
               static_cast<char>(std::filesystem::path::preferred_separator));
  return path;
}

ui::PicturePtr LoadAssetPicture(ui::Platform& platform, std::string_view file) {
  const std::string path = AssetPath(platform, kPicFolder, file);
  try {
    return platform.LoadPicture(path);
  } catch (const ui::RuntimeError& error) {
    const char* what = error.number == 53 ? "Файл рисунка не найден: " : "Не удаётся прочитать рисунок: ";
    throw ui::RuntimeError{error.number, what + path};
  }
}

void PlaySoundCue(ui::Platform& platform, std::string_view file) {
  const std::string path = AssetPath(platform, kSoundFolder, file);
  platform.sndPlaySoundA(path.c_str(), ui::SND_ASYNC);
}

}  // namespace zandrel::assets
