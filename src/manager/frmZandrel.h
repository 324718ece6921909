// The manager window: the association list, the entry frame for adding,
// removing and changing a row's program, the command buttons and the
// window's modes (list, add, remove, change; carried by the list's
// visibility and the frame's caption).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/Platform.h"
#include "ui/Window.h"
#include "integration/Desktop.h"
#include "store/AssociationListing.h"
#include "store/ChangeUndo.h"
#include "store/Prompter.h"
#include "registry/Registry.h"

namespace zandrel::manager {

class frmZandrel : public ui::Window {
 public:
  // The window as the start-up's window references create it.
  static std::unique_ptr<ui::Window> Create(ui::Platform& platform, IRegistry& registry,
                                            std::function<void()> showAbout, std::function<void()> showExit,
                                            capture::HistoryRegistry* history = nullptr,
                                            integration::Desktop* desktop = nullptr);

  // Create with `history` and `desktop` bound: what the programs' start-ups
  // hand their window references.
  using Factory = std::function<std::unique_ptr<ui::Window>(ui::Platform&, IRegistry&, std::function<void()>,
                                                            std::function<void()>)>;
  static Factory CreatorWith(capture::HistoryRegistry* history, integration::Desktop* desktop = nullptr);

  // `registry` (and `history`) must outlive the window. showAbout and
  // showExit open (or bring to the front) the About box and the exit
  // confirmation. `history` keeps the changes made through `registry` (it
  // lies under it): with it, Ctrl+Z, Ctrl+Y and the list's context menu
  // offer to undo the newest change, or the newest undo. `desktop` (whose
  // Classes() is `registry` or lies under it) follows each change and is
  // asked what the store asks it; without one the desktop adds nothing.
  frmZandrel(ui::Platform& platform, IRegistry& registry, std::function<void()> showAbout,
             std::function<void()> showExit, capture::HistoryRegistry* history = nullptr,
             integration::Desktop* desktop = nullptr);
  ~frmZandrel() override;

  // Controls, in stacking order from the topmost down; the frame's own
  // controls follow it.
  ui::Button cmdA01;
  ui::ListView lvwAsso;
  ui::Button cmdList;
  ui::Button cmdExit;
  ui::Button cmdAdd;
  ui::Button cmdDelete;
  ui::Frame fraAsso;
  ui::CommonDialog CommonDialog1;
  ui::Label lblProgress;
  ui::CheckBox cbxUpdateList;
  ui::Label lblTitleRef;
  ui::Label lblFileExt;
  ui::TextBox txtTitleRef;
  ui::TextBox txtFileExt;
  ui::Label lblRemarksForTitleDelete;
  ui::Label lblExecutableFileSpec;
  ui::TextBox txtExecutableFileSpec;
  ui::Button cmdDialogFileSpec;
  ui::Button cmdProceed;
  ui::Button cmdCancel;
  // Asks the store, kStoreWatchMs apart, whether another copy changed it.
  ui::Timer tmrStoreWatch;

  // Event handlers.
  void Form_Load() override;
  void Form_Resize() override;
  void cmdList_Click();
  void cmdAdd_Click();
  void cmdDelete_Click();
  void cmdCancel_Click();
  void cmdProceed_Click();
  void cmdDialogFileSpec_Click();
  void cmdA01_Click();
  void cmdExit_Click();
  // A double click on a row, or the list's menu entry "Изменить программу…":
  // in list mode, the entry frame for changing the selected row's program.
  void lvwAsso_DblClick();
  void lvwAsso_ContextMenu(std::size_t entry);
  // A change made elsewhere (zandrel-reg, another copy) since the last
  // listing: the list is read again when the window is idle in list mode
  // (no other handler under this one, no box open), keeping the selected
  // extension selected; else at the first tick that finds it so.
  void tmrStoreWatch_Timer();
  // Ctrl+Z (kChange) or Ctrl+Y (kUndo), or the list's context menu: in list
  // mode, asks to undo the newest change of `which` (store/ChangeUndo.h),
  // and undoes it on Yes. An undo that lasts shows how far it is in the
  // window's caption, keeping the window drawn (but taking no input)
  // meanwhile.
  void UndoLastChange(store::Newest which = store::Newest::kChange);
  // The list's menu entry "Проверить ассоциации": in list mode, names the
  // associations that open nothing here and offers to remove those Zandrel
  // may, as one change (store/BrokenCleanUp.h); then lists again.
  void CheckAssociations();

  // Switches cmdList, cmdAdd and cmdDelete together; cmdDelete stays enabled
  // only while the list has rows.
  void EnableCommands(bool enabled);
  // Adds or removes the association in the entry fields, then reloads the
  // list when the update box is ticked and the change succeeded.
  void CreateAssociation();
  void RemoveAssociation();
  // Changes the program of the extension in the (locked) fields to the
  // program field's, after a question naming every extension it reaches;
  // committed, the frame is back in its add state.
  void ChangeProgram();
  // After a change that got as far as writing (`committed`: the registry
  // holds it): the desktop follows, and a failure of it is shown after the
  // change's own messages.
  void DesktopFollows(const std::string& extension, bool committed);

  // The listing's state as the last listing left it (CurrentRow, WalkStopped).
  const store::AssociationListing& Listing() const { return listing_; }

 private:
  class ListingWindowSteps;
  class UndoCaption;
  class PlatformPrompter : public store::Prompter {
   public:
    explicit PlatformPrompter(ui::Platform& platform) : platform_(platform) {}
    int MsgBox(const std::string& text, int flags) override;
    void OpenDefaultAppsSettings() override;

   private:
    ui::Platform& platform_;
  };

  static constexpr const char* kAddCaption = "Добавить";
  static constexpr const char* kChangeCaption = "Изменить";
  static constexpr const char* kCheckEntry = "Проверить ассоциации";  // the list's menu entry

  // `items` with the rows whose extension opens nothing here dimmed, from a
  // check of the store and the desktop made now.
  std::vector<ui::ListItem> MarkBroken(std::vector<ui::ListItem> items);

  // The list command's work; `announce`: its click cue, and its closing box.
  void ShowList(bool announce);
  // The entry frame for the selected row's program; its end, back to the add's state.
  // The entry frame's fields of an add or of a change of program shown, the commands off.
  void OpenEntryFrame();
  void EditProgram();
  void LeaveProgramChange();
  void LayOut();
  void BindHandlers();
  void LoadButtonPictures(ui::Button& button, const char* normal, const char* pressed);

  IRegistry& registry_;
  capture::HistoryRegistry* history_;
  integration::Desktop* desktop_;
  std::function<void()> show_about_;
  std::function<void()> show_exit_;
  PlatformPrompter prompter_;
  store::AssociationListing listing_;
  bool undoing_ = false;  // an undo runs: the window redraws, but starts no other
  // The store's change counter as the last listing read it; none before
  // the first listing, or where the registry cannot tell.
  std::optional<std::uint64_t> listed_at_;
};

}  // namespace zandrel::manager
