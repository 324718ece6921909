// The classes store as the freedesktop data shows it: how each association
// maps (one table), and that the files written are Zandrel's alone.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "desktop/DesktopMapping.h"
#include "desktop/DesktopProjection.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"

namespace zandrel::desktop {
namespace {

using testing::ReadFile;
using testing::TempDir;

std::string Program(const TempDir& dir, const std::string& relative, mode_t mode = 0755) {
  const std::string path = dir.Write(relative, "#!/bin/sh\n");
  chmod(path.c_str(), mode);
  return path;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(DesktopMapping, OneRowPerAssociation) {
  TempDir dir;
  Program(dir, "tool");
  Program(dir, "my app/run");
  Program(dir, "odd$\\dir/run");
  Program(dir, "plain.txt", 0644);
  struct Row {
    const char* name;
    const char* extension;
    const char* command;  // "@" stands for the programs' folder
    const char* exec;     // as the entry holds it; "" when not projected
    const char* type;
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
      {"system type reused, any case", ".TXT", "@/tool %1", "@/tool %f", "text/plain"},
      {"odd characters in the extension", ".a b*", "@/tool %1", "@/tool %f", "application/x-zandrel-a_20b_2a"},
      {"program missing", ".zqh", "@/missing %1", "", ""},
      {"program not executable", ".zqi", "@/plain.txt %1", "", ""},
      {"Windows path", ".zqj", R"(C:\WINDOWS\notepad.exe %1)", "", ""},
      {"relative path", ".zqk", "tool %1", "", ""},
      {"file argument in a quoted word", ".zql", R"(@/tool "--in=a b%1")", "", ""},
  };
  const SystemGlobs globs{{"txt", "text/plain"}};
  const ProgramCheck isProgram = [](const std::string& p) {
    struct stat st {};
    return !p.empty() && p[0] == '/' && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(p.c_str(), X_OK) == 0;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<Projection> got = MapAssociations(
        {store::AssociationRow{row.extension, "Zq Title", Replace(row.command, "@", dir.Path())}}, globs, isProgram);
    if (*row.exec == '\0') {
      EXPECT_TRUE(got.empty());
      continue;
    }
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
    home.Write("system/mime/globs2", "# comment\n50:text/plain:*.txt\n50:text/x-other:*.zq?\n");
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
      "[Added Associations]\r\ntext/plain=b.desktop;\r\n\r\n[Default Applications]\r\n"
      "text/plain=gedit.desktop;\r\n# theirs\r\n\r\n[Removed Associations]\r\nimage/png=c.desktop;";
  home.Write("config/mimeapps.list", others);
  const std::string foreign = home.Write("data/applications/zandrel-foreign.desktop", "[Desktop Entry]\n");
  testing::SeedAssociation(registry, ".zqa", "Zq \"A\" & <B>", tool + " %1");
  // .txt's command kept as REG_EXPAND_SZ, as Windows keeps its own.
  testing::SeedValue(registry, ".txt", "", REG_SZ, "Zq Text");
  testing::SeedValue(registry, "Zq Text\\shell\\open\\command", "", REG_EXPAND_SZ, "\"" + tool + "\" \"%1\"");
  testing::SeedAssociation(registry, ".zqw", "Zq Windows", "C:\\zq.exe %1");

  ProjectionReport report = ProjectAssociations(registry, paths);
  ASSERT_EQ(report.status.message, "");
  EXPECT_EQ(report.projected, 2u);
  EXPECT_EQ(report.skipped, 1u);
  EXPECT_NE(ReadFile(Package()).find("<mime-type type=\"application/x-zandrel-zqa\">\n    <comment>Zq &quot;A&quot; "
                                     "&amp; &lt;B&gt;</comment>\n    <glob pattern=\"*.zqa\"/>"),
            std::string::npos);
  EXPECT_EQ(ReadFile(Package()).find("text/plain"), std::string::npos) << "a system type is not declared again";
  const std::string header =
      "# Written by Zandrel from its classes store; it rewrites or removes this file.\n[Desktop Entry]\n"
      "Type=Application\n";
  EXPECT_EQ(ReadFile(Entry("zandrel-zqa.desktop")),
            header + "Name=Zq \"A\" & <B>\nExec=" + tool +
                " %f\nMimeType=application/x-zandrel-zqa;\nNoDisplay=true\nX-Zandrel-Extension=.zqa\n");
  EXPECT_EQ(ReadFile(Entry("zandrel-txt.desktop")),
            header + "Name=Zq Text\nExec=" + tool + " %f\nMimeType=text/plain;\nNoDisplay=true\nX-Zandrel-Extension=.txt\n");
  EXPECT_EQ(ReadFile(MimeApps()),
            "[Added Associations]\r\ntext/plain=b.desktop;\r\n\r\n[Default Applications]\r\n"
            "text/plain=gedit.desktop;\r\napplication/x-zandrel-zqa=zandrel-zqa.desktop;\n# theirs\r\n\r\n"
            "[Removed Associations]\r\nimage/png=c.desktop;")
      << "the other program keeps text/plain";

  // A run killed before it wrote an entry: the next one finishes the work.
  ASSERT_EQ(unlink(Entry("zandrel-zqa.desktop").c_str()), 0);
  report = ProjectAssociations(registry, paths);
  EXPECT_EQ(report.filesChanged, 1u);
  EXPECT_TRUE(Exists(Entry("zandrel-zqa.desktop")));
  EXPECT_EQ(ProjectAssociations(registry, paths).filesChanged, 0u);

  ASSERT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqa"), ERROR_SUCCESS);
  ASSERT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt"), ERROR_SUCCESS);
  report = ProjectAssociations(registry, paths);
  ASSERT_EQ(report.status.message, "");
  EXPECT_FALSE(Exists(Package()));
  EXPECT_FALSE(Exists(Entry("zandrel-zqa.desktop")));
  EXPECT_FALSE(Exists(Entry("zandrel-txt.desktop")));
  EXPECT_TRUE(Exists(foreign));
  EXPECT_EQ(ReadFile(MimeApps()), others);
}

TEST_F(DesktopProjection, MimeAppsItCreatedGoesWithTheLastAssociation) {
  testing::SeedAssociation(registry, ".zqa", "Zq A", tool + " %1");
  ASSERT_EQ(ProjectAssociations(registry, paths).status.message, "");
  EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\napplication/x-zandrel-zqa=zandrel-zqa.desktop;\n");
  ASSERT_EQ(registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqa"), ERROR_SUCCESS);
  ASSERT_EQ(ProjectAssociations(registry, paths).status.message, "");
  EXPECT_FALSE(Exists(MimeApps()));
}

TEST_F(DesktopProjection, UnreadableStoreChangesNothing) {
  testing::SeedAssociation(registry, ".zqa", "Zq A", tool + " %1");
  ASSERT_EQ(ProjectAssociations(registry, paths).status.message, "");
  testing::FailingRegistry empty(registry);  // not even the classes key opens
  empty.RefuseOpenRights(~REGSAM{0});
  EXPECT_FALSE(ProjectAssociations(empty, paths).status.Ok());
  EXPECT_TRUE(Exists(Entry("zandrel-zqa.desktop")));
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
  ASSERT_EQ(ProjectAssociations(probing, paths).status.message, "");
  EXPECT_TRUE(probing.locked);
}

}  // namespace
}  // namespace zandrel::desktop
