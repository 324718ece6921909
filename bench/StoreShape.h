// Classes stores shaped like those of real machines, generated
// deterministically at three sizes: extension keys (default value first or
// after named values, some without a usable one), title keys shared by several
// extensions, their command and icon keys, ProgIDs and a CLSID tree several
// levels deep, Cyrillic names among them. The same store can be written as a
// .reg file or straight into any registry.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::bench {

struct StoreSize {
  const char* name;
  int directKeys;  // direct subkeys of the classes root
  int extensions;  // of them, keys whose name begins with "."
};

inline constexpr StoreSize kTypical{"typical", 5500, 900};
inline constexpr StoreSize kLarge{"large", 30000, 5000};
inline constexpr StoreSize kHuge{"huge", 100000, 20000};
inline constexpr StoreSize kSizes[] = {kTypical, kLarge, kHuge};

// Bumped whenever the generator changes what it makes: cached files carry it.
inline constexpr int kShapeVersion = 1;

struct GenValue {
  std::string name;  // "" is the default value
  DWORD type = REG_SZ;
  std::string data;  // the bytes as stored; string types end in their NUL
};

struct GenKey {
  std::string path;  // below the classes root; every parent comes earlier
  std::vector<GenValue> values;
};

struct GeneratedStore {
  StoreSize size;
  std::vector<GenKey> keys;
  std::size_t rowsAfterExtensionPass = 0;  // extension keys naming a title key
  std::size_t listedRows = 0;              // rows the listing ends with
};

GeneratedStore GenerateStore(const StoreSize& size);

// Version 5.00 .reg text as regedit exports it: UTF-16LE with a BOM, CRLF.
std::string ToRegText(const GeneratedStore& store);

// Writes every key and value under HKEY_CLASSES_ROOT in one transaction.
LONG WriteStore(IRegistry& registry, const GeneratedStore& store);

}  // namespace zandrel::bench
