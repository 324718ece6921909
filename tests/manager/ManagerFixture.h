// The manager window's tests' fixture: the window on the headless controls
// over a registry of the backends, its desktop recorded (support/RecordingDesktop.h).
#pragma once

#include <gtest/gtest.h>

#include <regex>

#include "manager/frmZandrel.h"
#include "regfile/RegFile.h"
#include "registry/ForwardingRegistry.h"
#include "ui/headless/HeadlessPlatform.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/RecordingDesktop.h"
#include "support/Support.h"

namespace zandrel::testing {

using manager::frmZandrel;
using Platform = ui::headless::HeadlessPlatform;
const char* const kPictures[] = {"k01-1.g", "k01-2.g", "k02-1.g", "k02-2.g", "k03-1.g",
                                 "k03-2.g", "k04-1.g", "k04-2.g", "Abt1.g",  "Abt2.g"};

class Manager : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kPictures) dir.Write(std::string("Pic/") + name, TinyPng(99, 33));
    platform.SetExecutableFolder(dir.Path());
    desktop.messages = [this] { return platform.messages.size(); };
    form = std::make_unique<frmZandrel>(
        platform, failing, [this] { about.push_back(platform.sounds.size()); },
        [this] { exits.push_back(platform.sounds.size()); }, nullptr, &desktop);
    form->Show();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : platform.messages) {
      EXPECT_EQ(m.title, "Zandrel");
      texts.push_back(m.text);
    }
    return texts;
  }
  // The window's mode as one line: list shown, list/add/delete enabled,
  // program fields shown, warning shown, the frame's caption, the focus.
  std::string Mode(const frmZandrel* of = nullptr) const {
    const frmZandrel* form = of != nullptr ? of : this->form.get();
    auto b = [](bool v) { return v ? "1" : "0"; };
    std::string s = std::string(b(form->lvwAsso.Visible())) + b(form->cmdList.Enabled()) + b(form->cmdAdd.Enabled()) +
                    b(form->cmdDelete.Enabled()) + b(form->lblExecutableFileSpec.Visible()) +
                    b(form->txtExecutableFileSpec.Visible()) + b(form->cmdDialogFileSpec.Visible()) +
                    b(form->lblRemarksForTitleDelete.Visible()) + " " + form->fraAsso.Caption();
    for (const ui::Control* c :
         std::initializer_list<const ui::Control*>{&form->cbxUpdateList, &form->txtFileExt, &form->txtTitleRef,
                                                   &form->cmdProceed, &form->cmdCancel, &form->cmdExit, &form->cmdA01})
      if (!c->Visible() || !c->Enabled()) s += " " + c->Name() + " off";
    return s + " " + (form->Focused() ? form->Focused()->Name() : "none");
  }
  void Seed() {
    SeedAssociation(*registry, ".zq", "Zq Title", "zq %1");
    SeedAssociation(*registry, ".zr", "Zr Title", "zr %1");
  }
  // The window again, its changes through `history`, which it also undoes.
  void Reopen(capture::HistoryRegistry& history) {
    form->Close();
    form = std::make_unique<frmZandrel>(
        platform, history, [] {}, [] {}, &history, &desktop);
    form->Show();
  }
  // The add frame's three fields typed in.
  void Type(const std::string& ext, const std::string& title, const std::string& path) {
    form->txtFileExt.UserEdited(ext);
    form->txtTitleRef.UserEdited(title);
    form->txtExecutableFileSpec.UserEdited(path);
  }

  TempDir dir;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  std::string program = dir.Write("bin/prog.exe", "MZ");
  FailingRegistry failing{*registry};
  RecordingDesktop desktop{failing};  // Windows' notes; each change it follows recorded
  Platform platform;
  std::unique_ptr<frmZandrel> form;
  std::vector<std::size_t> about, exits;  // sounds played when the About box or the exit was asked for
};

}  // namespace zandrel::testing
