// The clean-up of the associations that open nothing, on every backend: one
// store holding each reason beside healthy rows, cleaned as one change of the
// history (compared whole with a store seeded without what goes), undone to
// the exact keys; then all or nothing whichever call fails.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "capture/ChangeHistory.h"
#include "capture/HistoryRegistry.h"
#include "store/BrokenAssociations.h"
#include "store/BrokenCleanUp.h"
#include "store/ChangeUndo.h"
#include "support/Backends.h"
#include "support/BrokenPrint.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
const std::string kSep = "\\";
#else
constexpr bool kWindows = false;
const std::string kSep = "/";
#endif

const std::string kClasses = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\";
// The extensions asked about; .sb, which shares .sa's title (spelt in capitals), is not.
const std::vector<std::string> kAsked = {".ok", ".tm", ".nc", ".pm", ".pn", ".sa", ".zx", ".lnk", ".mend"};

class CleanUp : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(dir.Write("tool.exe", "#!/bin/sh\n").c_str(), 0755);
    dir.Write("plain.txt", "text");
  }
  std::string Program(const std::string& name) const { return "\"" + dir.Path() + kSep + name + "\" \"%1\""; }
  // The store: with `cleaned`, without what the clean-up removes; with
  // `mended`, .mend's program is back.
  void Seed(IRegistry& r, bool cleaned, bool mended) const {
    SeedAssociation(r, ".ok", "Ok.File", Program("tool.exe"));
    SeedAssociation(r, ".mend", "Mend.File", Program(mended ? "tool.exe" : "gone.exe"));
    SeedAssociation(r, ".sb", "SHARED", Program("gone.exe"));  // names .sa's title in other letters
    SeedValue(r, "Shared", "", REG_SZ, "Shared document");
    SeedValue(r, "exefile", "", REG_SZ, "Application");
    SeedValue(r, "lnkfile", "", REG_SZ, "Shortcut");
    SeedValue(r, ".lnk", "", REG_SZ, "lnkfile");
    if (cleaned) return;
    SeedValue(r, ".tm", "", REG_SZ, "Tm Missing");
    SeedValue(r, ".tm\\ShellNew", "NullFile", REG_SZ, "");
    SeedValue(r, ".nc", "", REG_SZ, "Nc.File");
    SeedValue(r, "Nc.File", "", REG_SZ, "No command");
    SeedAssociation(r, ".pm", "Pm.File", Program("gone.exe"));
    SeedValue(r, "Pm.File\\DefaultIcon", "", REG_SZ, "gone.exe,1");
    SeedValue(r, ".sa", "", REG_SZ, "Shared");
    SeedValue(r, ".zx", "", REG_SZ, "exefile");
    if (!kWindows) SeedAssociation(r, ".pn", "Pn.File", Program("plain.txt"));
  }

  TempDir dir;
};

TEST_F(CleanUp, RemovesEachReasonAsOneChangeThatUndoes) {
  // What the store is to hold after, and after the undo. Made first: under
  // Wine each registry made takes the place of the one before.
  std::string cleanedDump, undoneDump;
  for (auto [dump, cleaned] : {std::pair{&cleanedDump, true}, std::pair{&undoneDump, false}}) {
    auto expected = MakeRegistry(dir.File(cleaned ? "cleaned" : "undone"));
    Seed(*expected, cleaned, true);
    *dump = DumpClasses(*expected);
  }
  auto registry = MakeRegistry(dir.File("store"));
  Seed(*registry, false, false);
  FailingRegistry watched(*registry);
  capture::HistoryRegistry history(watched);
  store::ProgramProbe probe;
  const store::CheckResult found = store::FindBrokenAssociations(history, kAsked, nullptr, probe);
  ASSERT_EQ(found.failure, "");
  // Another copy mends .mend after the check, as the change begins.
  watched.before = [&](RegOp op) {
    if (op == Begin) SeedValue(*registry, "Mend.File\\shell\\open\\command", "", REG_SZ, Program("tool.exe"));
  };
  const store::CleanUp cleaned = store::RemoveBrokenAssociations(history, found.broken, nullptr);
  watched.before = nullptr;

  EXPECT_EQ(cleaned.failure, "");
  std::vector<std::string> lines;
  for (const auto& b : cleaned.removed) lines.push_back(store::RemovedLine(b));
  for (std::size_t i = 0; i < cleaned.kept.size(); ++i)
    lines.push_back(store::KeptLine(cleaned.kept[i], cleaned.keptWhy[i]));
  for (const auto& b : cleaned.mended) lines.push_back(store::MendedLine(b));
  lines.insert(lines.end(), cleaned.titles.begin(), cleaned.titles.end());
  const std::string gone = dir.Path() + kSep + "gone.exe";
  std::vector<std::string> expected = {
      ".tm: описания, которое называет расширение, нет (Tm Missing) — удалено: " + kClasses + ".tm",
      ".nc: у описания нет команды открытия (Nc.File) — удалено: " + kClasses + ".nc",
      ".pm: программы нет (" + gone + ") — удалено: " + kClasses + ".pm",
      ".pn: программа не запускается: файл не исполняемый (" + dir.Path() + "/plain.txt) — удалено: " + kClasses +
          ".pn",
      ".sa: программы нет (" + gone + ") — удалено: " + kClasses + ".sa",
      ".zx: у описания нет команды открытия (exefile) — удалено: " + kClasses + ".zx",
      ".lnk: у описания нет команды открытия (lnkfile) — оставлено, это файлы, которые Windows запускает сама, без "
      "него они перестанут открываться: " +
          kClasses + ".lnk",
      ".mend: программы нет (" + gone + ") — тем временем исправлено, оставлено как есть: " + kClasses + ".mend",
      "Описание Nc.File удалено: его не называет ни одно другое расширение.",
      "Описание Pm.File удалено: его не называет ни одно другое расширение.",
      "Описание Pn.File удалено: его не называет ни одно другое расширение.",
      "Описание Shared оставлено: его называют и другие расширения: .sb.",
      "Описание exefile оставлено: тип программ, которые запускаются сами.",
  };
  if (kWindows) {
    expected.erase(expected.begin() + 3);
    expected.erase(expected.begin() + 9);  // Pn.File's title line
  }
  EXPECT_EQ(lines, expected);

  // Healthy rows, the shell's own extension, the shared title and what was mended stay byte for byte.
  EXPECT_EQ(DumpClasses(*registry), cleanedDump);
  std::vector<capture::HistoryEntry> entries;
  ASSERT_EQ(capture::ReadHistory(*registry, &entries), ERROR_SUCCESS);
  EXPECT_EQ(entries.size(), 1u) << "one change, one undo";
  EXPECT_EQ(store::UndoChange(history, 0).result, store::UndoOutcome::Result::kUndone);
  EXPECT_EQ(DumpClasses(*registry), undoneDump) << "the mend, made by another, is not the change's to undo";
}

// Whichever single call fails, the store ends cleaned or exactly as before,
// and a failure says why.
TEST_F(CleanUp, FailingAnyCallLeavesAllOrNothing) {
  const auto seeded = [&](const std::string& name) {
    auto r = MakeRegistry(dir.File(name));
    Seed(*r, false, true);
    return r;
  };
  auto registry = seeded("counted");
  const std::string before = DumpClasses(*registry);
  store::ProgramProbe probe;
  const std::vector<integration::BrokenAssociation> broken =
      store::FindBrokenAssociations(*registry, kAsked, nullptr, probe).broken;
  FailingRegistry counting(*registry);
  ASSERT_EQ(store::RemoveBrokenAssociations(counting, broken, nullptr).failure, "");
  const std::string after = DumpClasses(*registry);
  std::size_t failed = 0;
  for (std::uint64_t n = 1; n <= counting.Count(); ++n) {
    SCOPED_TRACE(n);
    if (DumpClasses(*registry) != before) registry = seeded(std::to_string(n));
    FailingRegistry failing(*registry);
    failing.FailNth(n, ERROR_WRITE_FAULT);
    const store::CleanUp cleaned = store::RemoveBrokenAssociations(failing, broken, nullptr);
    if (cleaned.failure.empty()) {
      EXPECT_EQ(DumpClasses(*registry), after);
      continue;
    }
    ++failed;
    EXPECT_EQ(DumpClasses(*registry), before) << cleaned.failure;
    EXPECT_TRUE(cleaned.removed.empty());
    EXPECT_NE(cleaned.failure.find("Ничего не удалено."), std::string::npos) << cleaned.failure;
  }
  EXPECT_GE(failed, 5u);
}

}  // namespace
}  // namespace zandrel::testing
