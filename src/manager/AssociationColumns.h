// The association list's columns: each one's header, width and the field of a
// listing row it shows, declared once in AssociationColumns.cpp. The window
// sets the list's columns, widens the last one and makes the list's rows
// through these calls; the realisations draw whatever columns the list has.
#pragma once

#include <string>
#include <vector>

#include "store/AssociationListing.h"
#include "ui/Controls.h"

namespace zandrel::manager {

// A field of a listing row, as a column shows it.
using RowField = std::string store::AssociationRow::*;

// Replaces `list`'s columns with the declared ones, for a window whose outer
// width is `outerWidth` (twips).
void SetAssociationColumns(ui::ListView& list, float outerWidth);

// After the window is resized: the last column takes what the others leave
// of `outerWidth`, when they leave anything.
void FitLastColumn(ui::ListView& list, float outerWidth);

// The listing's rows as the list shows them, one text per column.
std::vector<ui::ListItem> ListItems(std::vector<store::AssociationRow> rows);

// The text `item` shows for `field`.
const std::string& FieldText(const ui::ListItem& item, RowField field);

}  // namespace zandrel::manager
