#include "registry/Key.h"

#include <memory>

namespace zandrel::registry {

namespace {

// The largest value name, with its NUL, in bytes of UTF-8.
constexpr DWORD kValueNameBytes = 16383 * 4 + 1;

}  // namespace

LONG Key::Open(HKEY parent, const std::string& path, REGSAM access) {
  Close();
  return registry_->RegOpenKeyExA(parent, path.c_str(), 0, access, &handle_);
}

LONG Key::Create(HKEY parent, const std::string& path, REGSAM access) {
  Close();
  return registry_->RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                    &handle_, nullptr);
}

LONG Key::Close() {
  const HKEY handle = std::exchange(handle_, 0);
  return handle == 0 || IsRootKey(handle) ? ERROR_SUCCESS : registry_->RegCloseKey(handle);
}

LONG Key::Values(std::vector<Value>* values) const { return ReadValues(*registry_, handle_, values); }

LONG Key::SubKeys(std::vector<std::string>* names) const { return ReadSubKeys(*registry_, handle_, names); }

LONG ReadValues(IRegistry& registry, HKEY key, std::vector<Value>* values) {
  std::unique_ptr<char[]> name(new char[kValueNameBytes]);
  std::string data(1 << 16, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD name_length = kValueNameBytes;
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LONG code = registry.RegEnumValueA(key, index, name.get(), &name_length, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      --index;
      continue;
    }
    if (code == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS) return code;
    values->push_back(Value{std::string(name.get(), name_length), type, data.substr(0, size)});
  }
}

LONG ReadSubKeys(IRegistry& registry, HKEY key, std::vector<std::string>* names) {
  for (DWORD index = 0;; ++index) {
    char child[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof child;
    const LONG code = registry.RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS) return code;
    names->emplace_back(child, length);
  }
}

}  // namespace zandrel::registry
