// The change of an extension's program, one table: what it writes for an own
// title and a shared one (a copy for the extension alone, or --all), each
// refusal byte for byte with nothing written, and its undo; then all or
// nothing whichever call fails.
#include <gtest/gtest.h>

#include "store/ChangeUndo.h"
#include "store/ChangesFixture.h"
#include "store/FieldChecks.h"
#include "store/ProgramChange.h"
#include "support/RecordingDesktop.h"

namespace zandrel::testing {
namespace {

const std::string kCmd = "Zq Title\\shell\\open\\command", kNothing = " Ничего не изменено.";

// .zq and .zr share "Zq Title", whose subtree holds more than the command.
void SeedShared(IRegistry& r) {
  SeedAssociation(r, ".zq", "Zq Title", "p %1");
  SeedValue(r, "Zq Title", "", REG_SZ, "Zq document");
  SeedValue(r, "Zq Title", "EditFlags", REG_BINARY, std::string("\0\x01\xff", 3));
  SeedValue(r, "Zq Title\\DefaultIcon", "", REG_EXPAND_SZ, "p,1");
  SeedValue(r, "Zq Title\\shell\\edit\\command", "", REG_SZ, "e %1");
  SeedValue(r, ".zr", "", REG_SZ, "ZQ TITLE");
}

// A desktop whose own key .desk is (a type of the Linux desktop's).
class OwningDesktop : public RecordingDesktop {
 public:
  using RecordingDesktop::RecordingDesktop;
  bool KeyIsDesktops(HKEY, const std::string& path) override { return store::SameKeyName(path, ".desk"); }
};

struct SetRow {
  const char* name;
  store::ProgramChangeFields fields;  // "{P}": the program, "{D}": a folder
  std::vector<std::string> lines;     // or the refusal alone; "{C}": the new command
  std::string title = "";             // the title the extension names after, when it changes
  std::string zrCommand = "p %1";     // .zr's after
  std::string undoRefused = "";       // the undo's refusal, when it refuses
  std::string icon = "\"{P}\",0";     // the title's DefaultIcon after, when it changes
  std::string zmIcon = "";            // Zm\DefaultIcon, when seeded
};

TEST_F(Changes, SetTable) {
  const std::string p = "Расширение .zq: команда p %1 заменена на {C}.", pIcon = "Значок p,1 заменён на \"{P}\",0.";
  const std::string noIcon = "Значок: записан \"{P}\",0 (прежнего не было).";
  // clang-format off
  const SetRow rows[] = {
      {"own title", {".zm", "{P}"}, {"Расширение .zm: команда m %1 заменена на {C}.", noIcon}},
      {.name = "another icon stays", .fields = {".zm", "{P}"}, .lines = {"Расширение .zm: команда m %1 заменена на {C}."},
       .icon = "imageres.dll,-102", .zmIcon = "imageres.dll,-102"},
      {.name = "the old program's icon", .fields = {".zm", "{P}"},
       .lines = {"Расширение .zm: команда m %1 заменена на {C}.", "Значок \"M\" заменён на \"{P}\",0."},
       .zmIcon = "\"M\""},
      {.name = "a program with no icon", .fields = {".zm", "{D}/zq viewer"},
       .lines = {"Расширение .zm: команда m %1 заменена на {C}."}, .icon = "m,1", .zmIcon = "m,1"},
      {"shared, the extension alone", {" zq ", " \"{P}\" "},
       {p, pIcon, "Для него сделано своё описание Zq Title.zq — копия описания Zq Title, которое остаётся у .zr."},
       "Zq Title.zq"},
      {"shared, every extension", {".ZQ", "{P}", true},
       {"Расширение .ZQ: команда p %1 заменена на {C}.", pIcon,
        "Описание Zq Title общее: той же командой теперь открываются и .zr."}, "", "{C}"},
      {"the first names taken", {".zq", "{P}"},
       {p, pIcon, "Для него сделано своё описание Zq Title.zq.3 — копия описания Zq Title, которое остаётся у .zr, .zz."},
       "Zq Title.zq.3"},
      // The undo would leave .zn naming a title it deletes, which it never does.
      {"a title without a key", {".zn", "{P}"}, {"Расширение .zn: записана команда {C} (прежней не было).", noIcon}, "",
       "p %1", "Изменение 1 не отменено: описание Zn Missing используется расширением .zn. Ничего не изменено."},
      {"the same command", {".zu", "{P}"}, {"Расширение .zu уже открывается командой {C}." + kNothing}},
      {"no extension", {" ", "{P}"}, {"Введите имя расширенния"}},
      {"no program", {".zq", "  "}, {"Не тормози!Выбери программу для ассациации."}},
      {"a line end in the program", {".zq", "/zq\nviewer"},
       {"В пути к программе /zq\\nviewer есть управляющий знак, его не передать в команде." + kNothing}},
      {"no such extension", {".nope", "{P}"}, {"Расширения .nope нет в реестре." + kNothing}},
      {"no title", {".untitled", "{P}"},
       {"Расширение .untitled не называет описания (типа файлов): сменить его программу нельзя." + kNothing}},
      {"a title of programs", {".zx", "{P}"},
       {"Описание ExeFile — тип программ, которые запускаются сами: его команду Zandrel не меняет." + kNothing}},
      {"a title that runs the file", {".zs", "{P}"},
       {"Описание Zq Runs — тип программ, которые запускаются сами: его команду Zandrel не меняет." + kNothing}},
      {"a title that is a path", {".zp", "{P}"},
       {"Расширение .zp называет описание CLSID\\{0}, которое не может быть именем раздела реестра." + kNothing}},
      {"the desktop's own extension", {".desk", "{P}"},
       {"Расширение .desk принадлежит рабочему столу. Измените его в настройках рабочего стола или командой "
        "xdg-mime default." + kNothing}},
      {"the desktop unread", {".zq", "{P}"},
       {"Ассоциации рабочего стола не прочитаны (no helper): пока Zandrel их не видит, он ничего не меняет." +
        kNothing}},
      {"changed meanwhile", {".zq", "{P}"}, {"Ассоциацию .zq тем временем изменила другая программа." + kNothing}},
  };
  // clang-format on
  dir.Write("zq viewer", "#!/bin/sh\n");
  for (const SetRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string name = row.name;
    const std::string command = store::OpenCommand(store::ProgramPath(Fill(row.fields.executableFileSpec)));
    registry = MakeRegistry(dir.Path() + "/" + name);
    SeedShared(*registry);
    SeedAssociation(*registry, ".zm", "Zm", "m %1");
    SeedValue(*registry, ".zn", "", REG_SZ, "Zn Missing");
    SeedAssociation(*registry, ".zu", "Zu", command);
    SeedKey(*registry, ".untitled");
    SeedValue(*registry, ".zx", "", REG_SZ, "ExeFile");
    SeedAssociation(*registry, ".zs", "Zq Runs", "\"%1\" %*");
    SeedValue(*registry, ".zp", "", REG_SZ, "CLSID\\{0}");
    SeedValue(*registry, ".desk", "", REG_SZ, "Desk");
    if (!row.zmIcon.empty()) SeedValue(*registry, "Zm\\DefaultIcon", "", REG_SZ, row.zmIcon);
    if (name == "the first names taken") {
      SeedKey(*registry, "Zq Title.zq");
      SeedValue(*registry, ".zz", "", REG_SZ, "Zq Title");
      SeedValue(*registry, ".zy", "", REG_SZ, "Zq Title.zq.2");  // names a title not there yet
    }
    const std::string before = DumpClasses(*registry), title = DumpTree(*registry, HKEY_CLASSES_ROOT, "Zq Title");
    FailingRegistry watched(*registry);
    capture::HistoryRegistry history(watched);
    OwningDesktop desktop(history);
    if (name == "the desktop unread") desktop.viewError = "no helper";
    if (name == "changed meanwhile")  // another program, as the lock is taken
      watched.before = [&](RegOp op) {
        if (op == Begin) SeedValue(*registry, ".zq", "", REG_SZ, "Other");
      };
    store::ProgramChangeFields fields = row.fields;
    fields.executableFileSpec = Fill(fields.executableFileSpec);
    const store::ProgramChange change = store::ChangeProgram(history, fields, &desktop);
    std::vector<std::string> lines;
    for (const std::string& line : row.lines) lines.push_back(Fill(Replace(line, "{C}", command)));
    EXPECT_EQ(change.refusal.empty() ? store::ProgramChangeLines(change) : std::vector{change.refusal}, lines);
    EXPECT_EQ(change.committed, watched.Count(Create | SetValue | DeleteKey | DeleteValue) != 0);
    if (!change.committed) {
      if (!watched.before) {
        EXPECT_EQ(DumpClasses(*registry), before);
      }
      continue;
    }
    const std::string e = store::PrepareExtension(row.fields.fileExt), t = Default(e);
    if (!row.title.empty()) {
      EXPECT_EQ(t, row.title);
    }
    EXPECT_EQ(Default(t + "\\shell\\open\\command"), command);
    EXPECT_EQ(Default(t + "\\DefaultIcon"), Fill(row.icon));
    EXPECT_EQ(Default(".zr"), "ZQ TITLE");
    EXPECT_EQ(Default(kCmd), Replace(row.zrCommand, "{C}", command));
    if (!row.title.empty()) {  // the copy: the old subtree whole, with the new command and icon
      std::string copy = title;
      for (const char* sub : {"\\shell\\open\\command", "\\DefaultIcon"}) {
        const std::string now = DumpTree(*registry, HKEY_CLASSES_ROOT, t + sub);
        const std::string was = DumpTree(*registry, HKEY_CLASSES_ROOT, "Zq Title" + std::string(sub));
        copy = Replace(copy, was.substr(was.find('\n')), now.substr(now.find('\n')));
      }
      EXPECT_EQ(DumpTree(*registry, HKEY_CLASSES_ROOT, t), Replace(copy, "[Zq Title", "[" + t));
      EXPECT_EQ(DumpTree(*registry, HKEY_CLASSES_ROOT, "Zq Title"), title);
    }
    const std::string changed = DumpClasses(*registry);
    const store::UndoOutcome undone = store::UndoChange(history, 0);
    EXPECT_EQ(undone.result == store::UndoOutcome::Result::kUndone ? "" : store::UndoMessage(undone), row.undoRefused);
    EXPECT_EQ(DumpClasses(*registry), row.undoRefused.empty() ? before : changed);
  }
}

// Whatever single call of a change fails, the store ends fully changed or
// exactly as before; a failing write says so with the registry's code.
TEST_F(Changes, SetFailingAnyCallLeavesAllOrNothing) {
  for (bool all : {false, true}) {
    SCOPED_TRACE(all ? "every extension" : "the extension alone");
    const store::ProgramChangeFields fields{".zq", program, all};
    const auto reset = [&](const std::string& name) {
      registry = MakeRegistry(dir.Path() + "/" + name + (all ? "all" : "alone"));
      SeedShared(*registry);
      return DumpClasses(*registry);
    };
    const std::string before = reset("clean");
    FailingRegistry counting(*registry);
    ASSERT_TRUE(store::ChangeProgram(counting, fields).committed);
    const std::string after = DumpClasses(*registry);
    std::size_t rolledBack = 0;  // failures after the first write
    std::string iconUnread;      // the refusal when the icon's reading failed
    for (std::uint64_t n = 1; n <= counting.Count(); ++n) {
      SCOPED_TRACE(n);
      if (DumpClasses(*registry) != before) reset(std::to_string(n));
      FailingRegistry failing(*registry);
      failing.FailNth(n, ERROR_WRITE_FAULT);
      const store::ProgramChange change = store::ChangeProgram(failing, fields);
      EXPECT_EQ(DumpClasses(*registry), change.committed ? after : before);
      if (change.refusal.find("значок") != std::string::npos) iconUnread = change.refusal;
      if (change.wrote && !change.committed) {
        ++rolledBack;
        EXPECT_EQ(change.refusal, "Программа расширения .zq не изменена (ошибка реестра 29)." + kNothing);
      }
    }
    EXPECT_GE(rolledBack, all ? 3u : 10u);
    EXPECT_EQ(iconUnread.substr(0, iconUnread.find(kNothing) + kNothing.size()),
              "Не удалось прочитать значок Zq Title\\DefaultIcon." + kNothing);
  }
}

}  // namespace
}  // namespace zandrel::testing
