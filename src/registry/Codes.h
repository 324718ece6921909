// The one description of a registry code for a person: a few words and the
// number, "not found (error 2)"; a code without words is "error N".
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::registry {

// The program's own codes, apart from Win32's by the customer bit (29). A
// record's replay refused because a key it would restore has changed since
// (another copy, or another program, wrote it after the record's writer
// died); a change, or a record, writing outside the keys the program changes;
// a record damaged other than by its writer's death, which is not replayed.
inline constexpr LONG kChangedSinceRecord = 0x2000'0001;
inline constexpr LONG kOutsideChangedKeys = 0x2000'0002;
inline constexpr LONG kDamagedRecord = 0x2000'0003;

// A change refused because it would create, write or delete a key of the
// program's own history (capture/ChangeHistory.h), or delete a key above it.
inline constexpr LONG kProgramsOwnKey = 0x2000'0004;

// A change refused because it would change or shadow a key of the desktop's
// own associations (the read-only layer under the classes store on Linux).
inline constexpr LONG kDesktopsOwnKey = 0x2000'0005;

// A change of the classes refused because the desktop's own associations
// could not be read (their helper missing or failing): unseen, any key might
// shadow one of them. integration::Desktop::ViewError() says why.
inline constexpr LONG kDesktopViewUnread = 0x2000'0006;

std::string DescribeCode(LONG code);

}  // namespace zandrel::registry
