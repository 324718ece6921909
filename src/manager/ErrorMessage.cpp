#include "manager/ErrorMessage.h"

namespace zandrel::manager {

void ShowErrorMessage(ui::Platform& platform, const std::string& procedureName, const ui::RuntimeError& error) {
  platform.MsgBox(procedureName + "\r\n" + std::to_string(error.number) + "     " + error.description, MB_OK,
                  ui::kAppTitle);
}

}  // namespace zandrel::manager
