// The desktop view's fixture: the classes store over the desktop's own
// associations, in private XDG folders holding a generated MIME package and
// desktop entries, with Zandrel's hive beside them.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "assembly/FreedesktopRows.h"
#include "freedesktop/DesktopClasses.h"
#include "freedesktop/FreedesktopDesktop.h"
#include "registry/Defaults.h"
#include "registry/hive/Hive.h"
#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"
#include "support/Backends.h"
#include "support/Support.h"

namespace zandrel::store {
inline void PrintTo(const AssociationRow& r, std::ostream* out) {
  *out << r.extension << " | " << r.description << " | " << r.command;
}
}  // namespace zandrel::store

namespace zandrel::freedesktop {

inline void PrintTo(const ViewRow& r, std::ostream* out) {
  *out << r.extension << " | " << r.type << " | " << r.description << " | " << r.command << " | " << r.icon << " | "
       << r.application;
}

using testing::CommandOutput;
using testing::RecordingPrompter;
using testing::Replace;
using testing::TempDir;

// The XDG variables, set for one test and restored after it.
class Environment {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      it->second ? ::setenv(it->first, it->second->c_str(), 1) : ::unsetenv(it->first);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

class DesktopView : public ::testing::Test {
 protected:
  // "@" in the texts below stands for the desktop's folder.
  void SetUp() override {
    for (const auto& [name, folder] : {std::pair{"XDG_DATA_HOME", "data"},
                                       {"XDG_DATA_DIRS", "system"},
                                       {"XDG_CONFIG_HOME", "config"},
                                       {"XDG_CONFIG_DIRS", "etc"}})
      env.Set(name, home.File(folder));
    env.Set("XDG_CURRENT_DESKTOP", "ZqDesk");
    env.Set("LANGUAGE", "ru");
    for (const char* program : {"bin/tool", "bin/my tool"}) ::chmod(home.Write(program, "#!/bin/sh\n").c_str(), 0755);
    Write("system/mime/packages/zq.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-zqa"><comment>ZQ A</comment><comment xml:lang="ru">Документ ZQ A</comment><glob pattern="*.zqa"/></mime-type>
  <mime-type type="application/x-zqb"><comment>ZQ B</comment><glob pattern="*.zqb"/></mime-type>
  <mime-type type="application/x-zqc"><comment>ZQ C</comment><alias type="application/x-zqc-old"/><glob pattern="*.zqc"/></mime-type>
  <mime-type type="application/x-zqbase"><comment>ZQ base</comment></mime-type>
  <mime-type type="application/x-zqd"><comment>ZQ D</comment><sub-class-of type="application/x-zqbase"/><glob pattern="*.zqd"/></mime-type>
  <mime-type type="application/x-zqe"><comment>ZQ E</comment><glob pattern="*.zqe"/></mime-type>
  <mime-type type="application/x-zqf"><comment>ZQ F</comment><glob pattern="*.zqf"/></mime-type>
  <mime-type type="application/x-zqg"><comment>ZQ G</comment><glob pattern="*.zqg"/></mime-type>
  <mime-type type="application/x-zqh"><comment>ZQ H</comment><glob pattern="*.zqh"/></mime-type>
  <mime-type type="application/x-zqn"><comment>ZQ N</comment><glob pattern="*.zqn"/></mime-type>
</mime-info>
)");
    Write("data/mime/packages/zandrel.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-zandrel-zqz"><comment>Zq own</comment><glob pattern="*.zqz"/></mime-type>
</mime-info>
)");
    Entry("system", "zq-files", "@/bin/tool %F", "application/x-zqa;application/x-zqb;", "Icon=zq-icon\n");
    Entry("system", "zq-spaced", R"("@/bin/my tool" --title "a b" %u)",
          "application/x-zqc;application/x-zqh;application/x-zqa;");
    Entry("system", "zq-desk", "@/bin/tool --desk %f", "application/x-zqb;");
    Entry("system", "zq-parent", "@/bin/tool --parent %f %i %c", "application/x-zqbase;",
          "Icon=@/zq.png\nName=Zq Parent\n");
    Entry("system", "zq-removed", "@/bin/tool %f", "application/x-zqe;");
    Entry("system", "zq-broken", "@/missing/zq %f", "application/x-zqf;");
    Entry("data", "zandrel-zqz", "@/bin/tool %f", "application/x-zandrel-zqz;application/x-zqg;",
          "X-Zandrel-Extension=.zqz\n");
    Write("config/mimeapps.list",
          "[Default Applications]\napplication/x-zqb=zq-files.desktop;\napplication/x-zqc-old=zq-spaced.desktop;\n"
          "application/x-zqg=zandrel-zqz.desktop;\n\n[Removed Associations]\napplication/x-zqe=zq-removed.desktop;\n");
    Write("config/zqdesk-mimeapps.list", "[Default Applications]\napplication/x-zqb=zq-desk.desktop;\n");
    Write("etc/mimeapps.list", "[Default Applications]\napplication/x-zqh=zq-spaced.desktop;\n");
    for (const char* folder : {"system", "data"}) {
      ASSERT_EQ(std::system(("update-mime-database " + home.File(folder) + "/mime").c_str()), 0);
      ASSERT_EQ(std::system(("update-desktop-database " + home.File(folder) + "/applications").c_str()), 0);
    }
    desktop = Desktop(HelperBesideProgram());
    classes = &desktop->Overlay();
  }

  void Write(const std::string& name, const std::string& text) const { home.Write(name, At(text)); }
  void Entry(const std::string& level, const std::string& id, const std::string& exec, const std::string& types,
             const std::string& more = "") const {
    Write(level + "/applications/" + id + ".desktop",
          "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec + "\nMimeType=" + types + "\n" + more);
  }
  std::string At(const std::string& text) const { return Replace(text, "@", home.Path()); }
  std::vector<ViewRow> Rows() {
    std::string error;
    std::optional<std::vector<ViewRow>> rows = HelperReader(HelperBesideProgram())(ViewRequest{}, &error);
    EXPECT_TRUE(rows) << error;
    return rows.value_or(std::vector<ViewRow>{});
  }
  std::vector<store::AssociationRow> Listed() { return store::AssociationListing(*classes).List().rows; }
  // The desktop over the hive, its view computed by `helper`.
  std::unique_ptr<FreedesktopDesktop> Desktop(const std::string& helper) {
    return std::make_unique<FreedesktopDesktop>(*hive, *hive, XdgPaths::FromEnvironment(), HelperReader(helper),
                                                assembly::ListedRows, helper);
  }

  Environment env;
  TempDir home;
  TempDir store;
  std::unique_ptr<IRegistry> hive = testing::MakeRegistry(store.Path());
  std::unique_ptr<FreedesktopDesktop> desktop;
  DesktopClasses* classes = nullptr;                                                      // desktop's
  const std::string run = "ZANDREL_HIVE=" + store.File("registry.db") + " " ZANDREL_REG;  // zandrel-reg over the hive
};

}  // namespace zandrel::freedesktop
