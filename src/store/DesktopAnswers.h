// The writer's and the remover's questions to the desktop they change
// (integration/Desktop.h), and the texts of its refusals. A change given no
// desktop meets none of its keys and no note.
#pragma once

#include <string>

#include "integration/Desktop.h"
#include "store/Prompter.h"

namespace zandrel::store {

// The refusal of a change naming one of the desktop's own keys, which no
// call may change (Desktop::KeyIsDesktops): `what` is the key's kind and name,
// `it` the pronoun that stands for it.
std::string DesktopsOwn(const std::string& what, const char* it, const char* nothing);

// The refusal of any change while the desktop's own associations cannot be
// read (Desktop::ViewError, `why`): unseen, the change might take one of them
// over.
std::string DesktopUnread(const std::string& why, const char* nothing);

// Whether the classes key `key` is the desktop's own; false for "".
bool DesktopsKey(integration::Desktop* desktop, const std::string& key);
std::string ViewError(integration::Desktop* desktop);
integration::StillDeciding StillDecides(integration::Desktop* desktop, IRegistry& registry, const std::string& e,
                                        const std::string& d);

// The desktop's settings page offered after the closing message, No by default.
void OfferSettings(const integration::StillDeciding& still, Prompter& prompter);

}  // namespace zandrel::store
