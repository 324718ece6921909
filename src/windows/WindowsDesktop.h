// Windows as the desktop (integration/Desktop.h): no layer of its own under
// the classes store (HKEY_CLASSES_ROOT is the registry's), Explorer told after
// each change, what decides the program that opens an extension read from the
// classes keys, the user's choice and the shell, and the note on what still
// decides for the user after a change (store-independent: the choice Windows
// keeps for the user's account, the user's own classes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "integration/Desktop.h"

namespace zandrel::windows {

// The shell's calls the desktop makes: the real ones come from
// SystemShell() (ShellWin32Api.h) in the Windows build; tests give their own.
struct Shell {
  // Tells the shell that file associations changed, so that Explorer reads
  // them again (SHChangeNotify(SHCNE_ASSOCCHANGED)).
  std::function<void()> notifyAssociationsChanged;
  // What Explorer runs to open a file of `extension` (".txt"), as
  // AssocQueryStringA(ASSOCSTR_COMMAND) reports it; false with *code (an
  // HRESULT) when it reports none.
  std::function<bool(const std::string& extension, std::string* command, std::int32_t* code)> openCommand;
};

class WindowsDesktop : public integration::Desktop {
 public:
  // `classes` must outlive this object.
  WindowsDesktop(IRegistry& classes, Shell shell) : classes_(classes), shell_(std::move(shell)) {}

  IRegistry& Classes() override { return classes_; }
  // The shell is told after any change that got as far as writing: what
  // Explorer caches may have been read in between.
  integration::Followed AfterChange(const std::string& extension, bool committed) override;
  // The machine's and the user's classes keys for the extension, the user's
  // choice, and the command Explorer really runs.
  status::Status Explain(const std::string& extension, std::string* out) override;
  // A name of the machine's RegisteredApplications: each extension its
  // Capabilities\FileAssociations declares names the declared ProgID among
  // the machine's classes (Prefer.cpp).
  status::Status Prefer(IRegistry& registry, const std::string& app, std::vector<std::string>* out) override;
  // The user's own classes and the choice Windows keeps for the user's
  // account (windows/UserChoice.h), and then the offer of Settings.
  integration::StillDeciding StillDecides(IRegistry& registry, const std::string& extension,
                                          const std::string& title) override;
  // OpenWithProgids values and the user's choice naming a ProgID that is
  // not there (BrokenChoices.cpp).
  std::vector<integration::BrokenAssociation> FindBroken(const std::vector<std::string>& extensions) override;
  // The machine's OpenWithProgids values among them, deleted through
  // `registry`; the user's classes and choice are the user's, and stay.
  integration::BrokenRemoval RemoveBroken(IRegistry& registry,
                                          const std::vector<integration::BrokenAssociation>& broken,
                                          std::string* fileFailure) override;

 private:
  IRegistry& classes_;
  Shell shell_;
};

}  // namespace zandrel::windows
