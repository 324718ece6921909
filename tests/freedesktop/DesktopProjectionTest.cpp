// The classes store as the freedesktop data shows it: how each association
// maps (one table), and that the files written are Zandrel's alone.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>

#include "assembly/FreedesktopRows.h"
#include "freedesktop/DesktopMapping.h"
#include "freedesktop/DesktopProjection.h"
#include "freedesktop/MimeDatabase.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"

namespace zandrel::freedesktop {
namespace {

using testing::CommandOutput;
using testing::ReadFile;
using testing::Replace;
using testing::TempDir;

std::string Program(const TempDir& dir, const std::string& relative, mode_t mode = 0755) {
  const std::string path = dir.Write(relative, "#!/bin/sh\n");
  chmod(path.c_str(), mode);
  return path;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(DesktopMapping, OneRowPerAssociation) {
  TempDir dir;
  Program(dir, "tool");
  Program(dir, "my app/run");
  Program(dir, "odd$\\dir/run");
  Program(dir, "plain.txt", 0644);
  Program(dir, "quo\"te/run");
  Program(dir, "100%/run");
  struct Row {
    const char* name;
    const char* extension;
    const char* command;  // "@" stands for the programs' folder
    const char* exec;     // as the entry holds it; "" when not projected
    const char* type;     // when not projected: why not
  } rows[] = {
      {"as the writer has it", ".zqa", "@/tool %1", "@/tool %f", "application/x-zandrel-zqa"},
      {"quoted program and file", ".zqb", R"("@/tool" "%1")", "@/tool %f", "application/x-zandrel-zqb"},
      {"unquoted path with a space", ".zqc", "@/my app/run %1", R"("@/my app/run" %f)", "application/x-zandrel-zqc"},
      {"options and a percent", ".zqd", R"("@/my app/run" -n "a b" 100% %L)", R"("@/my app/run" -n "a b" 100%% %f)",
       "application/x-zandrel-zqd"},
      {"characters escaped in quotes", ".zqe", R"(@/odd$\dir/run %1)", R"("@/odd\\$\\\\dir/run" %f)",
       "application/x-zandrel-zqe"},
      {"file argument inside a word", ".zqf", "@/tool --in=%1 %*", "@/tool --in=%f", "application/x-zandrel-zqf"},
      {"no file argument: appended", ".zqg", "@/tool", "@/tool %f", "application/x-zandrel-zqg"},
      {"system type of its one glob", ".zqs", "@/tool %1", "@/tool %f", "text/x-zqs"},
      {"odd characters in the extension", ".a b*", "@/tool %1", "@/tool %f", "application/x-zandrel-a_20b_2a"},
      {"100 dashes: a hash past the length",
       ".----------------------------------------------------------------------"
       "------------------------------",
       "@/tool %1", "@/tool %f",
       "application/x-zandrel-_2d_2d_2d_2d_2d_2d_2d_2d_2d_2d_2d_2d_2d_2d_2d_2-56041a8a0a808bc9"},
      {"a Cyrillic extension: GIO never matches its glob", ".док", "@/tool %1", "",
       "GIO не узнаёт файлы по расширению с символами не из ASCII (как ж или é)"},
      {"an accented Latin letter too", ".éa", "@/tool %1", "",
       "GIO не узнаёт файлы по расширению с символами не из ASCII (как ж или é)"},
      {"program missing", ".zqh", "@/missing %1", "", "в команде @/missing %1 нет программы этого компьютера"},
      {"program not executable", ".zqi", "@/plain.txt %1", "", "файл @/plain.txt не исполняемый"},
      {"program's path holds a quote", ".zqm", R"("@/quo"te/run" "%1")", "",
       R"(в пути к программе @/quo"te/run есть кавычка ("), её не передать в команде)"},
      {"program's path holds a percent", ".zqn", "@/100%/run %1", "",
       "в пути к программе @/100%/run есть знак %, а GIO ищет программу по слову команды, не раскрыв %%: такую он "
       "не найдёт"},
      {"Windows path", ".zqj", R"(C:\WINDOWS\notepad.exe %1)", "",
       R"(в команде C:\WINDOWS\notepad.exe %1 нет программы этого компьютера)"},
      {"file argument in a quoted word", ".zql", R"(@/tool "--in=a b%1")", "",
       "аргумент с именем файла внутри кавычек нельзя записать в файл рабочего стола"},
  };
  const MimeDatabase mime = MimeDatabase::Parse({{"50:text/x-zqs:*.zqs\n", "", ""}}, kPrivateTypePrefix, nullptr);
  const ProgramCheck isProgram = [](const std::string& p) {
    struct stat st {};
    return !p.empty() && p[0] == '/' && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(p.c_str(), X_OK) == 0;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<ProjectionFailure> failures;
    const std::vector<Projection> got =
        MapAssociations({StoreRow{row.extension, "Zq Title", Replace(row.command, "@", dir.Path())}}, mime, isProgram,
                        &failures);
    if (*row.exec == '\0') {
      EXPECT_TRUE(got.empty());
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_EQ(failures[0].reason, Replace(row.type, "@", dir.Path()));
      continue;
    }
    EXPECT_TRUE(failures.empty());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].exec, Replace(row.exec, "@", dir.Path()));
    EXPECT_EQ(got[0].mimeType, row.type);
  }
}

class DesktopProjection : public ::testing::Test {
 protected:
  void SetUp() override {
    paths.dataHome = home.File("data");
    paths.configHome = home.File("config");
    paths.dataDirs = {home.File("system")};
    home.Write("system/mime/globs2", "# comment\n50:text/x-zqt:*.zqt\n50:text/x-other:*.zq?\n");
    tool = Program(home, "bin/tool");
  }
  std::string Entry(const std::string& id) const { return paths.dataHome + "/applications/" + id; }
  std::string Package() const { return paths.dataHome + "/mime/packages/zandrel.xml"; }
  std::string MimeApps() const { return paths.configHome + "/mimeapps.list"; }

  TempDir home;
  XdgPaths paths;
  std::string tool;
  TempDir store;
  std::unique_ptr<IRegistry> hive = testing::MakeRegistry(store.Path());
  IRegistry& registry = *hive;
};

TEST_F(DesktopProjection, WritesItsOwnFilesAndWithdrawsExactlyThem) {
  // Another program's lines, one of them the default for text/plain, and an
  // entry named like Zandrel's but not its own.
  const std::string others =
      "[Added Associations]\r\ntext/x-zqt=b.desktop;\r\n\r\n[Default Applications]\r\n"
      "text/x-zqt=gedit.desktop;\r\n# theirs\r\n\r\n[Removed Associations]\r\nimage/png=c.desktop;";
  home.Write("config/mimeapps.list", others);
  const std::string foreign = home.Write("data/applications/zandrel-foreign.desktop", "[Desktop Entry]\n");
  // What runs killed mid-write left: its own temporaries go, names like them
  // stay, and so does one just written (an undo's, being written now).
  const std::vector<std::string> leftovers{home.Write("data/applications/.zandrel-zqa.desktop.zandrel-AbC123", ""),
                                           home.Write("data/mime/packages/.zandrel.xml.zandrel-x1Y2z3", ""),
                                           home.Write("config/.mimeapps.list.zandrel-QWERTY", ""),
                                           home.Write("config/.GNOME-mimeapps.list.zandrel-QWERTZ", "")};
  const std::vector<std::string> alike{home.Write("data/applications/.gedit.desktop.zandrel-AbC123", ""),
                                       home.Write("data/applications/.zandrel-zqa.desktop.zandrel-AbC12", ""),
                                       home.Write("config/.mimeapps.list.zandrel-QWE_TY", ""),
                                       home.Write("config/.mimeapps.list.other-QWERTY", "")};
  for (const std::string& file : leftovers) {
    const timespec old[2] = {{::time(nullptr) - 61, 0}, {::time(nullptr) - 61, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  }
  const std::string writing = home.Write("config/.mimeapps.list.zandrel-NOW123", "");
  testing::SeedAssociation(registry, ".zqa", "Zq \"A\" & <B>", tool + " %1");
  // .zqt's command kept as REG_EXPAND_SZ, as Windows keeps its own.
  testing::SeedValue(registry, ".zqt", "", REG_SZ, "Zq Text");
  testing::SeedValue(registry, "Zq Text\\shell\\open\\command", "", REG_EXPAND_SZ, "\"" + tool + "\" \"%1\"");
  testing::SeedAssociation(registry, ".zqw", "Zq Windows", "C:\\zq.exe %1");

  ProjectionReport report = ProjectAssociations(registry, assembly::ListedRows, paths);
  ASSERT_EQ(report.status.message, "");
  for (const std::string& left : leftovers) EXPECT_FALSE(Exists(left)) << left;
  for (const std::string& other : alike) EXPECT_TRUE(Exists(other)) << other;
  EXPECT_TRUE(Exists(writing));
  EXPECT_EQ(report.projected, 2u);
  EXPECT_EQ(report.skipped, 1u);
  EXPECT_NE(ReadFile(Package()).find("<mime-type type=\"application/x-zandrel-zqa\">\n    <comment>Zq &quot;A&quot; "
                                     "&amp; &lt;B&gt;</comment>\n    <sub-class-of type=\"text/x-other\"/>\n"
                                     "    <glob pattern=\"*.zqa\" weight=\"60\"/>"),
            std::string::npos);
  EXPECT_EQ(ReadFile(Package()).find("text/x-zqt"), std::string::npos) << "a system type is not declared again";
  const std::string header =
      "# Written by Zandrel from its classes store; it rewrites or removes this file.\n[Desktop Entry]\n"
      "Type=Application\n";
  EXPECT_EQ(ReadFile(Entry("zandrel-zqa.desktop")),
            header + "Name=Zq \"A\" & <B>\nExec=" + tool +
                " %f\nMimeType=application/x-zandrel-zqa;\nNoDisplay=true\nX-Zandrel-Extension=.zqa\n");
  EXPECT_EQ(ReadFile(Entry("zandrel-zqt.desktop")),
            header + "Name=Zq Text\nExec=" + tool +
                " %f\nMimeType=text/x-zqt;\nNoDisplay=true\nX-Zandrel-Extension=.zqt\n");
  EXPECT_EQ(ReadFile(MimeApps()),
            "[Added Associations]\r\ntext/x-zqt=b.desktop;\r\n\r\n[Default Applications]\r\n"
            "text/x-zqt=gedit.desktop;\r\napplication/x-zandrel-zqa=zandrel-zqa.desktop;\n# theirs\r\n\r\n"
            "[Removed Associations]\r\nimage/png=c.desktop;")
      << "the other program keeps text/x-zqt";

  // A run killed before it wrote an entry: the next one finishes the work.
  ASSERT_EQ(unlink(Entry("zandrel-zqa.desktop").c_str()), 0);
  report = ProjectAssociations(registry, assembly::ListedRows, paths);
  EXPECT_EQ(report.filesChanged, 1u);
  EXPECT_TRUE(Exists(Entry("zandrel-zqa.desktop")));
  EXPECT_EQ(ProjectAssociations(registry, assembly::ListedRows, paths).filesChanged, 0u);

  ASSERT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqa"), ERROR_SUCCESS);
  ASSERT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqt"), ERROR_SUCCESS);
  report = ProjectAssociations(registry, assembly::ListedRows, paths);
  ASSERT_EQ(report.status.message, "");
  EXPECT_FALSE(Exists(Package()));
  EXPECT_FALSE(Exists(Entry("zandrel-zqa.desktop")));
  EXPECT_FALSE(Exists(Entry("zandrel-zqt.desktop")));
  EXPECT_TRUE(Exists(foreign));
  EXPECT_EQ(ReadFile(MimeApps()), others);
}

// The mimeapps.list it created goes with the last association, not when the
// store cannot be read.
TEST_F(DesktopProjection, MimeAppsItCreatedGoesWithTheLastAssociation) {
  testing::SeedAssociation(registry, ".zqa", "Zq A", tool + " %1");
  ASSERT_EQ(ProjectAssociations(registry, assembly::ListedRows, paths).status.message, "");
  EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\napplication/x-zandrel-zqa=zandrel-zqa.desktop;\n");
  testing::FailingRegistry empty(registry);  // not even the classes key opens
  empty.RefuseOpenRights(~REGSAM{0});
  EXPECT_FALSE(ProjectAssociations(empty, assembly::ListedRows, paths).status.Ok());
  EXPECT_TRUE(Exists(Entry("zandrel-zqa.desktop")) && Exists(MimeApps()));
  ASSERT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqa"), ERROR_SUCCESS);
  ASSERT_EQ(ProjectAssociations(registry, assembly::ListedRows, paths).status.message, "");
  EXPECT_FALSE(Exists(MimeApps()));
}

// A file that cannot be written (here a folder in the entry's place, as a
// read-only data folder would refuse it) fails its own association only;
// the window names it, once, after the change's own message.
TEST_F(DesktopProjection, AFileThatCannotBeWrittenFailsOnlyItsAssociation) {
  const std::string longExtension = "." + std::string(200, '-');
  testing::SeedAssociation(registry, ".zqa", "Zq A", tool + " %1");
  testing::SeedAssociation(registry, longExtension, "Zq Long", tool + " %1");
  testing::SeedAssociation(registry, ".док", "Zq Doc", tool + " %1");
  home.Write("data/applications/zandrel-zqa.desktop/in the way", "");
  const ProjectionReport report = ProjectAssociations(registry, assembly::ListedRows, paths);
  EXPECT_EQ(report.projected, 2u);
  EXPECT_EQ(report.skipped, 1u);
  EXPECT_EQ(FailureMessage(report, ".док"),
            "Изменение .док не перенесено на рабочий стол: GIO не узнаёт файлы по "
            "расширению с символами не из ASCII (как ж или é).");
  EXPECT_NE(ReadFile(MimeApps()).find("application/x-zandrel-zqa=zandrel-zqa.desktop;"), std::string::npos);
  EXPECT_EQ(FailureMessage(report, "zqa"), "Изменение .zqa не перенесено на рабочий стол: не удаётся записать " +
                                               Entry("zandrel-zqa.desktop") + " (" + Entry("zandrel-zqa.desktop") +
                                               ": is a folder, not a file).");
  EXPECT_EQ(FailureMessage(report, longExtension), "");
  EXPECT_NE(ReadFile(Package()).find("<glob pattern=\"*" + longExtension + "\"/>"), std::string::npos);
}

// Two runs at once (the window and zandrel-reg): each reads the store only
// once it holds the lock, so one that read an older store never writes last.
TEST_F(DesktopProjection, ReadsTheStoreUnderItsLock) {
  struct Probing : testing::FailingRegistry {
    using FailingRegistry::FailingRegistry;
    LONG RegOpenKeyExA(HKEY key, const char* path, DWORD options, REGSAM access, HKEY* out) override {
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      locked = locked && fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      if (fd >= 0) ::close(fd);
      return FailingRegistry::RegOpenKeyExA(key, path, options, access, out);
    }
    std::string folder;
    bool locked = true;
  } probing(registry);
  probing.folder = paths.configHome;
  testing::SeedAssociation(registry, ".zqa", "Zq A", tool + " %1");
  ASSERT_EQ(ProjectAssociations(probing, assembly::ListedRows, paths).status.message, "");
  EXPECT_TRUE(probing.locked);
}

// Over the system's MIME database, as GIO in a process of its own sees it:
// each add opens its own extension's files and changes no other simple
// glob's program, also where the extension's type is shared (.bmp and .dib),
// is a parent of others (.zip of .odt, .gz of .tar.gz) or has a twin in
// another case (*.c and *.C).
TEST(DesktopProjectionOverGio, AnAddOpensItsOwnFilesAndNoOthers) {
  TempDir home;
  XdgPaths paths;
  paths.dataHome = home.File("data");
  paths.configHome = home.File("config");
  paths.dataDirs = {home.File("system"), "/usr/share"};
  // The desktop's programs before the adds, each logging what it opens.
  const auto program = [&](const std::string& name) {
    const std::string path =
        home.Write("bin/" + name, "#!/bin/sh\necho " + name + " \"$1\" >> " + home.File("opened") + "\n");
    chmod(path.c_str(), 0755);
    return path;
  };
  for (const auto& [name, types] :
       {std::pair<std::string, std::string>{"archiver", "application/zip;application/gzip;"},
        {"viewer", "image/bmp;"},
        {"editor", "text/plain;"}})
    home.Write("system/applications/" + name + ".desktop", "[Desktop Entry]\nType=Application\nName=" + name +
                                                               "\nExec=" + program(name) + " %f\nMimeType=" + types +
                                                               "\n");
  // The system's defaults; application/zip has none, as on a bare machine.
  home.Write("etc/mimeapps.list",
             "[Default Applications]\napplication/gzip=archiver.desktop;\n"
             "image/bmp=viewer.desktop;\ntext/plain=editor.desktop;\n");
  const std::string env = "env -u XDG_CURRENT_DESKTOP XDG_DATA_HOME=" + paths.dataHome +
                          " XDG_CONFIG_HOME=" + paths.configHome + " XDG_DATA_DIRS=" + home.File("system") +
                          ":/usr/share XDG_CONFIG_DIRS=" + home.File("etc") + " ";
  std::string names;
  const MimeDatabase system = MimeDatabase::Read({"/usr/share/mime"}, "", nullptr);
  for (const MimeGlob& g : system.Globs())
    if (IsSuffixGlob(g.pattern) && g.pattern[1] == '.') names += "x" + g.pattern.substr(1) + "\n";
  const std::string namesFile = home.Write("names", names);
  const auto probe = [&](const char* mode, const std::string& input) {
    std::map<std::string, std::string> answers;  // name -> "type entry"
    const std::string out = CommandOutput(env + ZANDREL_GIO_PROBE + " " + mode + " < " + input);
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::size_t space = out.find(' ', start);
      answers[out.substr(start, space - start)] = out.substr(space + 1, end - space - 1);
    }
    return answers;
  };
  const std::map<std::string, std::string> before = probe("names", namesFile);
  ASSERT_GT(before.size(), 500u);
  ASSERT_EQ(before.at("x.tar.gz"), "application/x-compressed-tar archiver.desktop") << "the parent's default";

  TempDir store;
  std::unique_ptr<IRegistry> hive = testing::MakeRegistry(store.Path());
  const std::vector<std::string> added{"zip", "gz", "bmp", "dib", "c"};
  for (const std::string& ext : added) testing::SeedAssociation(*hive, "." + ext, "Zq " + ext, program(ext) + " %1");
  ASSERT_EQ(ProjectAssociations(*hive, assembly::ListedRows, paths).status.message, "");

  const std::map<std::string, std::string> after = probe("names", namesFile);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, answer] : before) {
    SCOPED_TRACE(name);
    const bool own = std::find(added.begin(), added.end(), name.substr(2)) != added.end();
    const std::string& now = after.at(name);
    if (own) EXPECT_EQ(now.substr(now.find(' ') + 1), "zandrel-" + name.substr(2) + ".desktop");
    else EXPECT_EQ(now, answer);
  }
  // Files with content, whose type GIO settles by it when the name leaves it unsure.
  const std::string zip = std::string("PK\3\4", 4) + std::string(26, '\0');
  const std::string gzip = std::string("\x1f\x8b\x08\0", 4) + std::string(12, '\0');
  const std::string bmp = "BM" + std::string(52, '\0');
  std::string files;
  for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"x.zip", zip},
                                    {"x.gz", gzip},
                                    {"x.bmp", bmp},
                                    {"x.dib", bmp},
                                    {"x.c", "int main(void) { return 0; }\n"},
                                    {"y.tar.gz", gzip},
                                    {"y.jar", zip},
                                    {"y.C", "int main() {}\n"}})
    files += home.Write("files/" + name, bytes) + "\n";
  const std::map<std::string, std::string> opened = probe("files", home.Write("file-list", files));
  const auto entry = [&](const std::string& name) {
    const std::string& answer = opened.at(home.File("files/" + name));
    return answer.substr(answer.find(' ') + 1);
  };
  for (const std::string& ext : added) EXPECT_EQ(entry("x." + ext), "zandrel-" + ext + ".desktop");
  EXPECT_EQ(entry("y.tar.gz"), "archiver.desktop");
  EXPECT_EQ(entry("y.jar"), "-");
  EXPECT_EQ("text/x-c++src " + entry("y.C"), before.at("x.C"));
  // And the launch itself.
  ASSERT_EQ(std::system((env + "gio open " + home.File("files/x.dib")).c_str()), 0);
  for (int wait = 0; wait < 100 && ReadFile(home.File("opened")).empty(); ++wait) usleep(50000);
  EXPECT_EQ(ReadFile(home.File("opened")), "dib " + home.File("files/x.dib") + "\n");
}

}  // namespace
}  // namespace zandrel::freedesktop
