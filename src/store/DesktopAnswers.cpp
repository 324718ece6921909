#include "store/DesktopAnswers.h"

namespace zandrel::store {

std::string DesktopsOwn(const std::string& what, const char* it, const char* nothing) {
  return what + " принадлежит рабочему столу. Измените " + it +
         " в настройках рабочего стола или командой xdg-mime default. " + nothing;
}

std::string DesktopUnread(const std::string& why, const char* nothing) {
  return "Ассоциации рабочего стола не прочитаны (" + why + "): пока Zandrel их не видит, он ничего не меняет. " +
         nothing;
}

bool DesktopsKey(integration::Desktop* desktop, const std::string& key) {
  return desktop != nullptr && !key.empty() && desktop->KeyIsDesktops(HKEY_CLASSES_ROOT, key);
}

std::string ViewError(integration::Desktop* desktop) { return desktop != nullptr ? desktop->ViewError() : ""; }

integration::StillDeciding StillDecides(integration::Desktop* desktop, IRegistry& registry, const std::string& e,
                                        const std::string& d) {
  return desktop != nullptr ? desktop->StillDecides(registry, e, d) : integration::StillDeciding{};
}

void OfferSettings(const integration::StillDeciding& still, Prompter& prompter) {
  if (!still.question.empty() && prompter.MsgBox(still.question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
    prompter.OpenDefaultAppsSettings();
}

}  // namespace zandrel::store
