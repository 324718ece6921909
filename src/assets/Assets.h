// The application folder, the asset folders beside the executable, picture
// loading and sound cues. Asset names are written as the program has always
// written them, with a leading "\" ("\Click.wxv"); they are mapped onto this
// file system here and nowhere else. Nothing is cached: every call reads the
// file afresh.
#pragma once

#include <string>
#include <string_view>

#include "ui/Platform.h"

namespace zandrel::assets {

inline constexpr std::string_view kPicFolder = "\\Pic";
inline constexpr std::string_view kSoundFolder = "\\Sound";
inline constexpr std::string_view kClickCue = "\\Click.wxv";
inline constexpr std::string_view kSplashCue = "\\Splash.wxv";

// The folder of the running executable, asked for afresh at every use.
std::string AppPath(ui::Platform& platform);

// Application folder + folder + file, concatenated as written, with every "\"
// turned into this file system's separator.
std::string AssetPath(ui::Platform& platform, std::string_view folder, std::string_view file);

// Loads "\Pic" + file. A missing or unreadable picture throws a RuntimeError
// that names the file; no handler in the program catches it, so it ends the
// program with its message.
ui::PicturePtr LoadAssetPicture(ui::Platform& platform, std::string_view file);

// Plays "\Sound" + file asynchronously (sndPlaySoundA); the result is ignored
// (a file that cannot be played gives the desktop's default sound).
void PlaySoundCue(ui::Platform& platform, std::string_view file);

}  // namespace zandrel::assets
