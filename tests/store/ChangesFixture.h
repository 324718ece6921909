// The writer's and the remover's tests' fixture and texts: a registry of
// the backends (support/Backends.h) with one other extension, and a program.
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "registry/Key.h"
#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"
#include "store/KeyRoutines.h"
#include "store/FileExists.h"
#include "store/Titles.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/MergedClasses.h"
#include "support/Support.h"
#ifdef _WIN32
#include "support/Win32Support.h"
#endif

namespace zandrel::testing {

using Box = RecordingPrompter::Box;
using Boxes = std::vector<Box>;

inline std::string Ticked(const std::string& first) {
  return first +
         "\r\n\r\nЧто увидеть результат в списке нажмите кнопку показать.\r\n\r\n"
         "Если у вас стоит галочка в Показать изменнения , то измения\r\n\r\n"
         "будут вам показываться сразу после того как вы нажмёте \r\n\r\n"
         "кнопку Ок. Если вам это не нужно, не забывайте уберать галочку.";
}
const std::string kDone = "Всё прошло успешно.";
const std::string kNoExt = "Введите имя расширенния";
const std::string kBoth = "Удаляется расширенние .zq\r\nХотите удалить расширенние и описание?";
const std::string kKeepTitle = "Удаляется расширенние .zq\r\nХотите удалить расширенние, а описание оставить?";
const std::string kRemoved = "Ассоциация удаленна из реестра .zq";
const std::string kNotRemoved = "Не удалось удалить ассоциацию из реестра .zq";
const Box kReuse{"Title Ref already in existence in the registery.\r\nProceed still?", 0x24};
#ifdef _WIN32
const char kDevice[] = "NUL";
#else
const char kDevice[] = "/dev/null";
#endif

class Changes : public ::testing::Test {
 protected:
  void SetUp() override {
    registry = MakeRegistry(dir.Path());
    program = dir.Write("my prog.exe", "MZ");
    SeedValue(*registry, ".other", "", REG_SZ, "Other");
    empty = DumpClasses(*registry);
  }
  // "{P}" stands for the program's path, "{D}" for a folder.
  std::string Fill(std::string s) const {
    for (auto [mark, by] : {std::pair<std::string, std::string>{"{P}", program}, {"{D}", dir.Path()}})
      for (std::size_t at; (at = s.find(mark)) != std::string::npos;) s.replace(at, mark.size(), by);
    return s;
  }
  std::string Default(const std::string& path) {  // the default value's text, or a note
    registry::Key key(*registry);
    std::vector<registry::Value> values;
    if (key.Open(HKEY_CLASSES_ROOT, path) != ERROR_SUCCESS) return "<no key>";
    if (key.Values(&values) != ERROR_SUCCESS || values.empty() || !values[0].name.empty() || values[0].type != REG_SZ ||
        values[0].data.empty())
      return "<no default>";
    EXPECT_EQ(values[0].data.back(), '\0');
    return values[0].data.substr(0, values[0].data.size() - 1);
  }
  void SeedZq() {
    SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
    SeedValue(*registry, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
    full = DumpClasses(*registry);
  }
  store::AssociationFields Add(int update = 0) { return {" zq ", " Zq Title ", " " + program + " ", update}; }
  static store::RemovalFields Remove(int update = 0) { return {"zq", "Zq Title", update}; }

  TempDir dir;
  std::unique_ptr<IRegistry> registry;
  std::string program, empty, full;
};

}  // namespace zandrel::testing
