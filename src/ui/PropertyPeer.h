// A control's peer on a screen, as the Qt and Win32 realisations make them:
// Update sends each change of the model to the one method that shows it.
#pragma once

#include <string>

#include "ui/Controls.h"

namespace zandrel::ui {

class PropertyPeer : public ControlPeer {
 public:
  explicit PropertyPeer(Control& control) : control_(control) {}
  // Nothing once the peer no longer shows its control (Showing()). While a
  // change is shown, applying_ is set: what the screen reports of it is not
  // echoed back to the model.
  void Update(Property what) final;
  Control& Model() const { return control_; }

 protected:
  virtual bool Showing() const = 0;

  virtual void ApplyVisible(bool visible) = 0;
  virtual void ApplyEnabled(bool enabled) = 0;
  virtual void ApplyGeometry(const Rect& twips) = 0;
  // The caption, or a text box's text, of the kinds that show one.
  virtual void ApplyText(const std::string& text) = 0;
  virtual void ApplyChecked(bool checked) = 0;  // check boxes
  virtual void ApplyLocked(bool locked) = 0;    // text boxes: read-only
  virtual void ApplyFont(const Font& font) = 0;
  virtual void ApplyColors() = 0;
  virtual void ApplyToolTip(const std::string& text) = 0;
  virtual void ApplyPictures() = 0;
  virtual void ApplyFocus() = 0;
  // List views only.
  virtual void ApplyItems() = 0;
  virtual void ApplySelection() = 0;
  virtual void ApplyColumns() = 0;
  virtual void ApplyListOptions() = 0;

  Control& control_;
  bool applying_ = false;  // model -> screen in progress: do not echo back
};

}  // namespace zandrel::ui

// Declares every property method of PropertyPeer but Showing() as an
// override, for a realisation's control peer.
#define ZANDREL_PROPERTY_PEER_OVERRIDES                \
  void ApplyVisible(bool visible) override;            \
  void ApplyEnabled(bool enabled) override;            \
  void ApplyGeometry(const Rect& twips) override;      \
  void ApplyText(const std::string& text) override;    \
  void ApplyChecked(bool checked) override;            \
  void ApplyLocked(bool locked) override;              \
  void ApplyFont(const Font& font) override;           \
  void ApplyColors() override;                         \
  void ApplyToolTip(const std::string& text) override; \
  void ApplyPictures() override;                       \
  void ApplyFocus() override;                          \
  void ApplyItems() override;                          \
  void ApplySelection() override;                      \
  void ApplyColumns() override;                        \
  void ApplyListOptions() override;
