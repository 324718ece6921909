// zandrel-reg as a user runs it: a separate process on the hive ZANDREL_HIVE
// names (over an empty desktop), reg.exe's layout, exit status 1 with one line
// on every error, also when another copy holds the hive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "registry/hive/Hive.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

const std::string kSmall =
    "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.zzq]\r\n\"Content Type\"=\"text/zzq\"\r\n"
    "@=\"zzqfile\"\r\n\"Flags\"=dword:0000002a\r\n\"Blob\"=hex:0a,0b\r\n\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq\\ShellNew]\r\n\"NullFile\"=\"\"\r\n\r\n[HKEY_CLASSES_ROOT\\.zzq\\Подключ]\r\n\r\n";
const std::string kValues =
    "    Content Type    REG_SZ    text/zzq\n    (Default)    REG_SZ    zzqfile\n    Flags    REG_DWORD    0x2a\n"
    "    Blob    REG_BINARY    0A0B\n    Multi    REG_MULTI_SZ    a\\0b\n";
const std::string kUsage =
    "zandrel-reg: usage: zandrel-reg import FILE | export KEY FILE | query KEY [/s] | set .EXT PROGRAM [--all] | prefer "
    "APP | desktop | why .EXT | check [--remove] [.EXT ...] | history | undo [N] | redo\n";

// zandrel-reg on `hive` over an empty desktop: the store is the hive's alone.
std::string ZandrelRegOn(const TempDir& dir, const std::string& hive) {
  const std::string xdg = dir.File("xdg");
  return "ZANDREL_HIVE='" + dir.File(hive) + "' XDG_DATA_HOME=" + xdg + " XDG_DATA_DIRS=" + xdg +
         " XDG_CONFIG_HOME=" + xdg + " XDG_CONFIG_DIRS=" + xdg + " " ZANDREL_REG;
}

struct RegRow {
  std::string hive, args;  // arguments split at blanks, each quoted; "\x01" is a blank inside one
  int status;
  std::string out, err;  // "{T}" in `out`: a time of the clock
};

// Runs each row's zandrel-reg in `dir`: its status and outputs.
void ExpectRuns(const TempDir& dir, const std::vector<RegRow>& rows) {
  for (const RegRow& row : rows) {
    SCOPED_TRACE(row.args);
    std::string command = ZandrelRegOn(dir, row.hive);
    for (std::size_t at = 0, end; at < row.args.size(); at = end + 1) {
      end = std::min(row.args.find(' ', at), row.args.size());
      command += " '" + Replace(row.args.substr(at, end - at), "\x01", " ") + "'";
    }
    command += " >" + dir.File("out") + " 2>" + dir.File("err");
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status);
    EXPECT_EQ(std::regex_replace(ReadFile(dir.File("out")), std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"),
                                 "{T}"),
              row.out);
    EXPECT_EQ(ReadFile(dir.File("err")), row.err);
  }
}

TEST(ZandrelReg, RunsAsAUserRunsIt) {
  TempDir dir;
  const std::string wide = Utf16File(kSmall);
  dir.Write("small.reg", wide);
  dir.Write("bad.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.new]\r\n@=\"n\"\r\n[HKCR\\.short]\r\n");
  dir.Write("part.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\.part]\n\"x\"=dword:zz\n@=\"partfile\"\n");
  dir.Write("notes.txt", "just some notes\n");
  // A file that would touch the program's own history (which files do is HistoryTest's).
  dir.Write("own.reg", "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel]\r\n[HKEY_CLASSES_ROOT\\.own]\r\n");
  dir.Write("windows.reg", WindowsClassesReg());
  const std::string d = dir.Path();
  const std::string why = ": not an extension: \"%\" (give it with its dot, as .txt)\n";
  const std::string txt =
      "\nHKEY_CLASSES_ROOT\\.txt\n    Content Type    REG_SZ    text/plain\n    PerceivedType    REG_SZ    text\n"
      "    (Default)    REG_SZ    txtfile\n\nHKEY_CLASSES_ROOT\\.txt\\ShellNew\n";
  // clang-format off
  const std::vector<RegRow> rows = {
      // A hive is not made by a verb that only reads or refuses ('' quoted again below: an empty argument); the
      // Windows sample store imports.
      {"ro.db", "query HKCR\\.txt", 1, "", "zandrel-reg: the key \"HKCR\\.txt\" does not exist\n"},
      {"ro.db", "export HKCR " + d + "/empty.reg", 0, "", ""},
      {"ro.db", "undo ''", 1, "", "zandrel-reg: \"\" не номер изменения (номера показывает zandrel-reg history)\n"},
      {"ro.db", "undo 0", 1, "", "zandrel-reg: \"0\" не номер изменения (номера показывает zandrel-reg history)\n"},
      {"ro.db", "undo", 1, "", "zandrel-reg: Нет изменений, которые можно отменить.\n"},
      {"ro.db", "undo 3", 1, "", "zandrel-reg: Изменения 3 нет в истории.\n"},
      {"ro.db", "redo", 1, "", "zandrel-reg: Нет отменённых изменений, которые можно вернуть.\n"},
      {"ro.db", "desktop", 0, "0 associations open files on this desktop, 0 have no program here; 0 files changed\n", ""},
      {"ro.db", "why ..txt", 0,
       "glob: no simple glob *.txt in the MIME database\ntype: GIO guesses application/octet-stream for a file named "
       "x.txt\nmimeapps.list: there is none\ndefault: GIO finds no default application for application/octet-stream\n"
       "store: no row\n", ""},
      {"h.db", "import " + d + "/windows.reg", 0, "", ""},
      {"h.db", "query HKCR\\.txt", 0, txt, ""},
      {"h.db", "import " + d + "/small.reg", 0, "", ""},
      {"h.db", "query HKCR\\.zzq", 0,
       "\nHKEY_CLASSES_ROOT\\.zzq\n" + kValues + "\nHKEY_CLASSES_ROOT\\.zzq\\ShellNew\nHKEY_CLASSES_ROOT\\.zzq\\Подключ\n", ""},
      {"h.db", "query HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ /s", 0,
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ\n" + kValues +
           "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ\\ShellNew\n    NullFile    REG_SZ    \n"
           "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ\\Подключ\n\n", ""},
      {"h.db", "export HKCR\\.zzq " + d + "/back.reg", 0, "", ""},
      {"h.db", "import " + d + "/bad.reg", 1, "", "zandrel-reg: " + d + "/bad.reg, line 5: unknown root key \"HKCR\"\n"},
      {"h.db", "query HKCR\\.new", 1, "", "zandrel-reg: the key \"HKCR\\.new\" does not exist\n"},
      {"h.db", "import " + d + "/part.reg", 0, "",
       "zandrel-reg: " + d + "/part.reg, line 3: a dword needs 1 to 8 hex digits: not imported\n"},
      {"h.db", "query HKCR\\.part", 0, "\nHKEY_CLASSES_ROOT\\.part\n    (Default)    REG_SZ    partfile\n\n", ""},
      // Each import is kept in the history and can be undone.
      {"h.db", "undo", 0,
       "Изменение 3 (импорт " + d + "/part.reg) отменено, ключей: 1. Отмена сохранена в истории как изменение 4.\n", ""},
      {"h.db", "query HKCR\\.part", 1, "", "zandrel-reg: the key \"HKCR\\.part\" does not exist\n"},
      {"h.db", "redo", 0,
       "Изменение 4 (отмена изменения 3) отменено, ключей: 1. Отмена сохранена в истории как изменение 5.\n", ""},
      // A file's lines touching the history are left out and named; the rest imports.
      {"h.db", "import " + d + "/own.reg", 0, "",
       "zandrel-reg: " + d + "/own.reg, line 3: the program's own history, which no change may touch: not imported\n"},
      {"h.db", "history", 0,
       "6  {T}  импорт " + d + "/own.reg, ключей: 1\n"
       "5  {T}  отмена изменения 4, ключей: 1\n4  {T}  отмена изменения 3, ключей: 1 (отменено изменением 5)\n"
       "3  {T}  импорт " + d + "/part.reg, ключей: 1\n"
       "2  {T}  импорт " + d + "/small.reg, ключей: 3\n1  {T}  импорт " + d + "/windows.reg, ключей: 663\n", ""},
      {"h.db", "undo 0x3", 1, "", "zandrel-reg: \"0x3\" не номер изменения (номера показывает zandrel-reg history)\n"},
      {"h.db", "redo 5", 1, "", kUsage},
      {"empty.db", "history", 0, "История изменений пуста.\n", ""},
      {"h.db", "--help", 0, kUsage.substr(13) +
       "  import FILE                  a .reg file in, all or nothing; lines that would touch the history are left out\n"
       "  export KEY FILE              the key's subtree out as a .reg file (on Linux the hive's keys, not the desktop's)\n"
       "  query KEY [/s]               the key's values, and with /s its subtree\n"
       "  set .EXT PROGRAM [--all]     .EXT opens with PROGRAM; a title other extensions share changes for them too only "
       "with --all\n"
       "  prefer APP                   APP opens every file type it declares (Windows: a registered application; Linux: a "
       "desktop entry)\n"
       "  desktop                      brings the desktop's associations in line with the store\n"
       "  why .EXT                     what decides the program that opens .EXT here\n"
       "  check [--remove] [.EXT ...]  the associations that open nothing here, with --json as JSON; status 1 when there "
       "are some; --remove removes those Zandrel may, as one change to undo\n"
       "  history                      the changes kept, newest first\n"
       "  undo [N]                     undoes change N, or the newest change neither undone nor an undo\n"
       "  redo                         undoes the newest undo not yet undone\n", ""},
      {"h.db", "", 1, "", kUsage},
      {"h.db", "delete HKCR\\.txt", 1, "", kUsage},
      {"h.db", "import", 1, "", kUsage},
      {"h.db", "query HKCR /x", 1, "", kUsage},
      {"h.db", "why txt", 1, "", "zandrel-reg" + Replace(why, "%", "txt")},
      {"h.db", "why .a/b", 1, "", "zandrel-reg" + Replace(why, "%", ".a/b")},
      {"h.db", "why .a\nb", 1, "", "zandrel-reg" + Replace(why, "%", ".a\\x0ab")},
      {"h.db", "why ..", 1, "", "zandrel-reg" + Replace(why, "%", "..")},
      {"h.db", "export HKCR", 1, "", kUsage},
      {"h.db", "query HKXX\\.txt", 1, "", "zandrel-reg: unknown root key in \"HKXX\\.txt\"\n"},
      {"h.db", "query HKCR\\" + std::string(300, 'k'), 1, "",
       "zandrel-reg: cannot open the key \"HKCR\\" + std::string(300, 'k') +
           "\": a name is too long or the key is nested too deep (error 87)\n"},
      {"h.db", "export HKCR\\.nope " + d + "/out.reg", 1, "", "zandrel-reg: cannot open the key \"HKCR\\.nope\": not found (error 2)\n"},
      {"h.db", "export HKXX\\.nope " + d + "/out.reg", 1, "", "zandrel-reg: unknown root key in \"HKXX\\.nope\"\n"},
      // Every file argument that is not a usable file: one line, status 1.
      {"h.db", "export HKCR\\.txt " + d + "/no/out.reg", 1, "",
       "zandrel-reg: " + d + "/no/out.reg: cannot write the file: No such file or directory\n"},
      {"h.db", "export HKCR\\.txt " + d, 1, "", "zandrel-reg: " + d + ": is a folder, not a file\n"},
      {"h.db", "export HKCR\\.txt /dev/full", 1, "", "zandrel-reg: /dev/full: cannot write the file: No space left on device\n"},
      {"h.db", "import " + d + "/none.reg", 1, "", "zandrel-reg: " + d + "/none.reg: cannot read the file: No such file or directory\n"},
      {"h.db", "import " + d, 1, "", "zandrel-reg: " + d + ": is a folder, not a file\n"},
      {"h.db", "import /dev/zero", 1, "", "zandrel-reg: /dev/zero: is a device, not a file\n"},
      {"h.db", "import /proc/self/mem", 1, "", "zandrel-reg: /proc/self/mem: cannot read the file: Input/output error\n"},
      // An import that creates the hive: the file in it, or no hive at all.
      {"new.db", "import " + d + "/windows.reg", 0, "", ""},
      {"new.db", "query HKCR\\.txt", 0, txt, ""},
      {"none.db", "import " + d + "/bad.reg", 1, "", "zandrel-reg: " + d + "/bad.reg, line 5: unknown root key \"HKCR\"\n"},
      {"notes.txt", "query HKCR", 1, "", "zandrel-reg: \"" + d + "/notes.txt\" is not a registry hive: not a SQLite database\n"},
  };
  // clang-format on
  ExpectRuns(dir, rows);
  EXPECT_EQ(ReadFile(dir.File("back.reg")), wide);
  EXPECT_EQ(ReadFile(dir.File("notes.txt")), "just some notes\n");
  for (const char* never : {"none.db", "empty.db", "ro.db"})
    EXPECT_NE(::access(dir.File(never).c_str(), F_OK), 0) << never;
  EXPECT_EQ(ReadFile(dir.File("empty.reg")),
            Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n"));
}

// set gives one extension another program, under a title of its own when
// its title is shared; the desktop follows, undo brings the old one back,
// and --all changes the shared title itself.
TEST(ZandrelReg, SetChangesOneTypeAndUndoBringsItBack) {
  TempDir dir;
  const std::string prog = dir.Write("bin/zq viewer", "#!/bin/sh\n"), d = dir.Path();
  ::chmod(prog.c_str(), 0755);
  dir.Write("zq.reg",
            "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqa]\n@=\"ZqFile\"\n[HKEY_CLASSES_ROOT\\.zqb]\n@=\"ZqFile\"\n"
            "[HKEY_CLASSES_ROOT\\ZqFile\\DefaultIcon]\n@=\"p,1\"\n"
            "[HKEY_CLASSES_ROOT\\ZqFile\\shell\\open\\command]\n@=\"p %1\"\n");
  const std::string cmd = "\"" + prog + "\" \"%1\"", was = "Расширение .zqa: команда p %1 заменена на " + cmd + ".\n";
  const std::string set = "set .zqa " + Replace(prog, " ", "\x01");  // one argument, a blank inside (below)
  // clang-format off
  std::vector<RegRow> rows = {
      {"none.db", set, 1, "", "zandrel-reg: Расширения .zqa нет в реестре. Ничего не изменено.\n"},
      {"h.db", "import " + d + "/zq.reg", 0, "", ""},
      {"h.db", set, 0, was + "Для него сделано своё описание ZqFile.zqa — копия описания ZqFile, которое остаётся у .zqb.\n", ""},
  };
  // clang-format on
  ExpectRuns(dir, rows);
  // The desktop follows: .zqa's files open with the program.
  const std::string entry = dir.File("xdg/applications/zandrel-zqa.desktop");
  EXPECT_NE(ReadFile(entry).find("\nExec=\"" + prog + "\" %f\n"), std::string::npos) << ReadFile(entry);
  // clang-format off
  rows = {
      {"h.db", "query HKCR\\.zqa", 0, "\nHKEY_CLASSES_ROOT\\.zqa\n    (Default)    REG_SZ    ZqFile.zqa\n\n", ""},
      {"h.db", "query HKCR\\ZqFile.zqa /s", 0,
       "\nHKEY_CLASSES_ROOT\\ZqFile.zqa\n\nHKEY_CLASSES_ROOT\\ZqFile.zqa\\DefaultIcon\n    (Default)    REG_SZ    p,1\n"
       "\nHKEY_CLASSES_ROOT\\ZqFile.zqa\\shell\n\nHKEY_CLASSES_ROOT\\ZqFile.zqa\\shell\\open\n"
       "\nHKEY_CLASSES_ROOT\\ZqFile.zqa\\shell\\open\\command\n    (Default)    REG_SZ    " + cmd + "\n\n", ""},
      {"h.db", "query HKCR\\ZqFile\\shell\\open\\command", 0,
       "\nHKEY_CLASSES_ROOT\\ZqFile\\shell\\open\\command\n    (Default)    REG_SZ    p %1\n\n", ""},
      {"h.db", "undo", 0, "Изменение 2 (смена программы .zqa) отменено, ключей: 6. Отмена сохранена в истории как изменение 3.\n", ""},
      {"h.db", "query HKCR\\.zqa", 0, "\nHKEY_CLASSES_ROOT\\.zqa\n    (Default)    REG_SZ    ZqFile\n\n", ""},
      {"h.db", "query HKCR\\ZqFile.zqa", 1, "", "zandrel-reg: the key \"HKCR\\ZqFile.zqa\" does not exist\n"},
  };
  // clang-format on
  ExpectRuns(dir, rows);
  EXPECT_NE(::access(entry.c_str(), F_OK), 0) << "p is no program here: no entry";
  // clang-format off
  rows = {
      {"h.db", set + " --all", 0, was + "Описание ZqFile общее: той же командой теперь открываются и .zqb.\n", ""},
      {"h.db", "query HKCR\\ZqFile\\shell\\open\\command", 0,
       "\nHKEY_CLASSES_ROOT\\ZqFile\\shell\\open\\command\n    (Default)    REG_SZ    " + cmd + "\n\n", ""},
      {"h.db", "history", 0, "4  {T}  смена программы .zqa, ключей: 1\n3  {T}  отмена изменения 2, ключей: 6\n"
       "2  {T}  смена программы .zqa, ключей: 6 (отменено изменением 3)\n1  {T}  импорт " + d + "/zq.reg, ключей: 7\n", ""},
      {"h.db", "set .nope " + d + "/zq.reg", 1, "", "zandrel-reg: Расширения .nope нет в реестре. Ничего не изменено.\n"},
      {"h.db", set + " --only", 1, "", kUsage},
      {"h.db", "set .zqa", 1, "", kUsage},
      {"h.db", "prefer", 1, "", kUsage},
      {"h.db", "prefer org.zq.Viewer.desktop", 1, "", "zandrel-reg: Программы рабочего стола org.zq.Viewer.desktop нет: "
       "файла org.zq.Viewer.desktop нет в папках программ (" + d + "/xdg/applications). Ничего не изменено.\n"},
  };
  // clang-format on
  ExpectRuns(dir, rows);
  EXPECT_NE(::access(dir.File("none.db").c_str(), F_OK), 0);
}

// Another copy's change holds the hive past the ten seconds' wait: an import
// and an undo, run side by side, each end with one line that says why; once
// it is let go, the undo goes through.
TEST(ZandrelReg, ABusyHiveSaysAnotherCopyIsChangingIt) {
  TempDir dir;
  const std::string d = dir.Path();
  dir.Write("a.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zza]\n@=\"a\"\n");
  const std::string run = ZandrelRegOn(dir, "h.db");
  ASSERT_EQ(std::system((run + " import " + dir.File("a.reg")).c_str()), 0);
  std::unique_ptr<hive::HiveRegistry> other;
  ASSERT_TRUE(hive::OpenHive(dir.File("h.db"), &other).Ok());
  ASSERT_EQ(other->BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SeedKey(*other, ".held"), ERROR_SUCCESS);
  const std::string both = "(" + run + " import " + dir.File("a.reg") + " >" + d + "/o1 2>" + d + "/e1; echo $? >" + d +
                           "/s1) & (" + run + " undo >" + d + "/o2 2>" + d + "/e2; echo $? >" + d + "/s2) & wait";
  ASSERT_EQ(std::system(both.c_str()), 0);
  other->RollbackTransaction();
  const std::string why = "Ассоциации сейчас изменяет другая копия Zandrel. Повторите попытку позже.";
  EXPECT_EQ(ReadFile(dir.File("e1")),
            "zandrel-reg: " + dir.File("a.reg") +
                ": cannot start the import: the hive is busy in another process (error 170). " + why + "\n");
  EXPECT_EQ(ReadFile(dir.File("e2")),
            "zandrel-reg: Изменение не отменено (ошибка реестра 170). Ничего не изменено. " + why + "\n");
  for (const char* file : {"o1", "o2"}) EXPECT_EQ(ReadFile(dir.File(file)), "") << file;
  for (const char* file : {"s1", "s2"}) EXPECT_EQ(ReadFile(dir.File(file)), "1\n") << file;
  const int status = std::system((run + " undo >" + d + "/o3").c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  EXPECT_EQ(ReadFile(dir.File("o3")), "Изменение 1 (импорт " + dir.File("a.reg") +
                                          ") отменено, ключей: 1. Отмена сохранена в истории как изменение 2.\n");
}

}  // namespace
}  // namespace zandrel::testing
