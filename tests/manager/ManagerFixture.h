#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "manager/frmZandrel.h"
#include "platform/headless/HeadlessPlatform.h"
#include "support/DumpTree.h"
#include "support/FailingRegistry.h"
#include "support/MemoryRegistry.h"
#include "support/RegistryKinds.h"
#include "support/Seed.h"
#include "support/TestFolders.h"

namespace zandrel::testing {

using manager::frmZandrel;
using ui::HeadlessPlatform;

// A loaded and shown manager window over a fresh classes store, on the
// headless platform, with its pictures in a temporary application folder.
// Every registry call goes through `failing`, which fails nothing until told.
class WindowTest {
 protected:
  void Open(std::unique_ptr<IRegistry> store) {
    WriteManagerPictures(dir);
    platform.SetExecutableFolder(dir.Path());
    platform.SetAssociationsChangedHandler([this] { desktopSyncs.push_back(platform.messages.size()); });
    registry = std::move(store);
    failing = std::make_unique<FailingRegistry>(*registry);
    form = std::make_unique<frmZandrel>(platform, *failing, [this] { about.push_back(platform.sounds.size()); },
                                        [this] { exits.push_back(platform.sounds.size()); });
    form->Show();
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : platform.messages) texts.push_back(m.text);
    return texts;
  }
  std::string ClickCuePath() const { return dir.Path() + "/Sound/Click.wxv"; }

  TempDir dir;
  HeadlessPlatform platform;
  std::unique_ptr<IRegistry> registry;
  std::unique_ptr<FailingRegistry> failing;
  std::unique_ptr<frmZandrel> form;
  std::vector<std::size_t> about;  // sounds recorded when the About box was asked for
  std::vector<std::size_t> exits;
  std::vector<std::size_t> desktopSyncs;  // messages shown when the desktop was told of a change
};

// Over the in-memory model only.
class ManagerTest : public ::testing::Test, public WindowTest {
 protected:
  void SetUp() override { Open(std::make_unique<MemoryRegistry>()); }
};

// Over every registry kind (the hive as well, once built).
class ManagerOnEveryRegistry : public ::testing::TestWithParam<RegistryKind>, public WindowTest {
 protected:
  void SetUp() override { Open(GetParam().make(dir.Path())); }
};

}  // namespace zandrel::testing
