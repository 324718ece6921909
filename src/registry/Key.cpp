#include "registry/Key.h"

#include "registry/Names.h"

namespace zandrel::registry {

namespace {

// Into the strings *value already holds: a reader's caller that keeps one
// Value allocates nothing per key.
void Assign(std::string_view name, DWORD type, std::string_view data, Value* value) {
  value->name.assign(name);
  value->type = type;
  value->data.assign(data);
}

}  // namespace

LONG Key::Open(HKEY parent, const std::string& path, REGSAM access) {
  Close();
  return registry_->RegOpenKeyExA(parent, path.c_str(), 0, access, &handle_);
}

LONG Key::Create(HKEY parent, const std::string& path, REGSAM access, DWORD* disposition) {
  Close();
  return registry_->RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                    &handle_, disposition);
}

LONG Key::Close() {
  const HKEY handle = std::exchange(handle_, 0);
  return handle == 0 || IsRootKey(handle) ? ERROR_SUCCESS : registry_->RegCloseKey(handle);
}

LONG Key::Values(std::vector<Value>* values) const { return ReadValues(*registry_, handle_, values); }

LONG Key::SubKeys(std::vector<std::string>* names) const { return ReadSubKeys(*registry_, handle_, names); }

LONG Key::Find(std::string_view name, DWORD limit, Value* value) const {
  return ValueReader(*registry_).Find(handle_, name, limit, value);
}

void ValueReader::Reserve(std::size_t data) {
  if (!name_) name_.reset(new char[kValueNameBytes]);
  if (data_.size() < data) data_.resize(data);
}

LONG ValueReader::Values(HKEY key, std::vector<Value>* values) {
  return EachValue(key, [&](std::string_view name, DWORD type, std::string_view data) {
    values->push_back(Value{std::string(name), type, std::string(data)});
  });
}

LONG ValueReader::Find(HKEY key, std::string_view name, DWORD limit, Value* value) {
  const std::string upper = UpperName(name);
  bool found = false;
  const LONG code = Each(key, limit, [&](std::string_view at, DWORD type, std::string_view data) {
    // The default value is the one with an empty name: found without upper-casing anything.
    if (name.empty() ? !at.empty() : at.empty() || UpperName(at) != upper) return true;
    Assign(at, type, data, value);
    found = true;
    return false;
  });
  return code != ERROR_SUCCESS ? code : found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG ValueReader::At(HKEY key, DWORD index, DWORD limit, Value* value) {
  Reserve(limit);
  DWORD name_length = kValueNameBytes;
  DWORD type = REG_NONE;
  DWORD size = limit;
  const LONG code = registry_.RegEnumValueA(key, index, name_.get(), &name_length, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data_.data()), &size);
  if (code == ERROR_SUCCESS)
    Assign(NameRead(name_length), type, std::string_view(data_.data(), std::min(size, limit)), value);
  return code;
}

LONG ReadValues(IRegistry& registry, HKEY key, std::vector<Value>* values) {
  return ValueReader(registry).Values(key, values);
}

LONG ReadSubKeys(IRegistry& registry, HKEY key, std::vector<std::string>* names) {
  return EachSubKey(registry, key, [names](DWORD, std::string_view name) {
    names->emplace_back(name);
    return ERROR_SUCCESS;
  });
}

std::optional<std::string> ReadText(IRegistry& registry, HKEY root, const std::string& path, std::string_view name) {
  Key key(registry);
  Value value;
  if (key.Open(root, path) != ERROR_SUCCESS || key.Find(name, 0, &value) != ERROR_SUCCESS) return std::nullopt;
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return std::nullopt;
  value.data.resize(std::min(value.data.find('\0'), value.data.size()));
  return std::move(value.data);
}

}  // namespace zandrel::registry
