#include "ui/PropertyPeer.h"

namespace zandrel::ui {

namespace {

// The text a control shows as its caption or contents; null for the kinds
// that show none.
const std::string* ShownText(const Control& control) {
  switch (control.Kind()) {
    case ControlKind::Label: return &static_cast<const Label&>(control).Caption();
    case ControlKind::CheckBox: return &static_cast<const CheckBox&>(control).Caption();
    case ControlKind::Frame: return &static_cast<const Frame&>(control).Caption();
    case ControlKind::Button: return &static_cast<const Button&>(control).Caption();
    case ControlKind::TextBox: return &static_cast<const TextBox&>(control).Text();
    default: return nullptr;
  }
}

}  // namespace

void PropertyPeer::Update(Property what) {
  if (!Showing()) return;
  const bool was = applying_;
  applying_ = true;
  const bool list = control_.Kind() == ControlKind::ListView;
  switch (what) {
    case Property::Visible: ApplyVisible(control_.Visible()); break;
    case Property::Enabled: ApplyEnabled(control_.Enabled()); break;
    case Property::Geometry: ApplyGeometry(control_.Geometry()); break;
    case Property::Caption:
    case Property::Text:
      if (const std::string* text = ShownText(control_)) ApplyText(*text);
      break;
    case Property::Value:
      if (control_.Kind() == ControlKind::CheckBox) ApplyChecked(static_cast<CheckBox&>(control_).Value() == 1);
      break;
    case Property::Locked:
      if (control_.Kind() == ControlKind::TextBox) ApplyLocked(static_cast<TextBox&>(control_).Locked());
      break;
    case Property::Font: ApplyFont(control_.GetFont()); break;
    case Property::Colors: ApplyColors(); break;
    case Property::ToolTip: ApplyToolTip(control_.ToolTip()); break;
    case Property::Pictures: ApplyPictures(); break;
    case Property::Focus: ApplyFocus(); break;
    case Property::Items:
      if (list) ApplyItems();
      break;
    case Property::Selection:
      if (list) ApplySelection();
      break;
    case Property::Columns:
      if (list) ApplyColumns();
      break;
    case Property::ListOptions:
      if (list) ApplyListOptions();
      break;
    case Property::TabIndex:
    case Property::Interval:
    case Property::WindowState: break;
  }
  applying_ = was;
}

}  // namespace zandrel::ui
