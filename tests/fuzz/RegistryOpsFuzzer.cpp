// Fuzz target, differential: the input is read as a program of registry
// operations (open, create, enumerate keys and values with small and large
// buffers, set, delete key, delete value, close, transactions) over names
// from a small alphabet with case variants, Cyrillic and over-long names. The
// program runs on a fresh hive and on the in-memory model side by side; every
// code and every output must agree, and so must the whole trees at the end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "support/MemoryRegistry.h"

namespace {

using namespace zandrel;

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = {
      "a", "A", "b", ".x", ".X", "shell", "Shell", "open", "OPEN", "command", "ёлка", "ЁЛКА", "Ж", "ж",
      "straße", "STRASSE", "Ω", "ω", "z z", std::string(255, 'n'), std::string(256, 'n'),
      std::string(127, 'k') + "Я" + std::string(127, 'k'),  // 255 characters, 257 bytes
  };
  return names;
}

// A path of one to three names; now and then with a leading, trailing or
// doubled "\", or empty.
std::string Path(Reader& in) {
  const std::uint8_t shape = in.Byte();
  if (shape % 16 == 0) return "";
  const int parts = 1 + shape % 3;
  std::string path;
  for (int i = 0; i < parts; ++i) {
    if (i > 0) path += (shape & 0x40) != 0 && i == 1 ? "\\\\" : "\\";
    path += Names()[in.Byte() % Names().size()];
  }
  if ((shape & 0x80) != 0) path += "\\";
  if (shape % 16 == 15) path = "\\" + path;
  return path;
}

std::string ValueName(Reader& in) {
  const std::uint8_t pick = in.Byte();
  if (pick % 4 == 0) return "";
  return Names()[pick % Names().size()];
}

constexpr HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
constexpr int kSlots = 6;
constexpr DWORD kSizes[] = {0, 1, 2, 4, 5, 8, 256, 1024, 4096};

[[noreturn]] void Mismatch(int step, const char* op, const std::string& detail) {
  std::fprintf(stderr, "step %d: %s: hive and model disagree: %s\n", step, op, detail.c_str());
  std::abort();
}

struct Pair {
  IRegistry* reg[2];
  HKEY slot[2][kSlots] = {};
};

// ZANDREL_FUZZ_TRACE=1 prints every operation, for reading a failing input.
const bool kTrace = std::getenv("ZANDREL_FUZZ_TRACE") != nullptr;

void Check(int step, const char* op, LONG a, LONG b) {
  if (kTrace) std::fprintf(stderr, "%d %s -> %d / %d\n", step, op, static_cast<int>(a), static_cast<int>(b));
  if (a != b) Mismatch(step, op, "code " + std::to_string(a) + " vs " + std::to_string(b));
}

bool BadPath(LONG code) { return code == ERROR_BAD_PATHNAME || code == ERROR_INVALID_PARAMETER; }
bool BadHandle(LONG code) { return code == ERROR_INVALID_HANDLE || code == ERROR_KEY_DELETED; }

// A bad handle with a bad path: the hive's create and delete check the path
// first, the model (and the hive's open) the handle. Known; either is a
// refusal that changes nothing.
void CheckPathCall(int step, const char* op, LONG hive_code, LONG model_code) {
  if (BadPath(hive_code) && BadHandle(model_code)) return;
  Check(step, op, hive_code, model_code);
}

// Picks a base for a path: one of the roots, or an open slot (which may be
// empty, a stale or closed handle: the registries must agree on those too).
HKEY Base(Pair& p, int side, std::uint8_t pick) {
  if (pick % 2 == 0) return kRoots[(pick / 2) % 4];
  return p.slot[side][(pick / 2) % kSlots];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto hive = fuzz::FreshHive("ops.hive");
  testing::MemoryRegistry model;
  Pair p{{hive.get(), &model}};
  Reader in(data, size);
  for (int step = 0; step < 96 && !in.Empty(); ++step) {
    const std::uint8_t op = in.Byte() % 11;
    switch (op) {
      case 0:    // open
      case 1: {  // create
        const std::uint8_t base = in.Byte();
        const std::string path = Path(in);
        const std::uint8_t mask_pick = in.Byte();
        const REGSAM mask = mask_pick % 4 == 0 ? KEY_READ : mask_pick % 4 == 1 ? KEY_WRITE : KEY_ACCESS_0x3F;
        const int to = mask_pick / 4 % kSlots;
        LONG code[2];
        HKEY out[2] = {};
        DWORD disposition[2] = {};
        for (int s = 0; s < 2; ++s) {
          code[s] = op == 0 ? p.reg[s]->RegOpenKeyExA(Base(p, s, base), path.c_str(), 0, mask, &out[s])
                            : p.reg[s]->RegCreateKeyExA(Base(p, s, base), path.c_str(), 0, "", 0, mask, nullptr,
                                                        &out[s], &disposition[s]);
        }
        if (kTrace)
          std::fprintf(stderr, "  base %x/%x path \"%s\" to slot %d -> %x/%x\n", Base(p, 0, base), Base(p, 1, base),
                       path.c_str(), to, out[0], out[1]);
        CheckPathCall(step, op == 0 ? "open" : "create", code[0], code[1]);
        if (code[0] != ERROR_SUCCESS || code[1] != ERROR_SUCCESS) {
          if (out[0] != 0 || out[1] != 0) Mismatch(step, "open", "a handle set on failure");
          break;
        }
        if (op == 1 && disposition[0] != disposition[1])
          Mismatch(step, "create", "disposition " + std::to_string(disposition[0]) + " vs " +
                                       std::to_string(disposition[1]));
        if ((out[0] >= HKEY_CLASSES_ROOT) != (out[1] >= HKEY_CLASSES_ROOT))
          Mismatch(step, "open", "one gave a root, the other a handle");
        for (int s = 0; s < 2; ++s) p.slot[s][to] = out[s];
        break;
      }
      case 2: {  // enumerate subkeys
        const int slot = in.Byte() % kSlots;
        const DWORD index = in.Byte() % 8;
        const DWORD size_in = kSizes[in.Byte() % 9];
        char name[2][4096];
        DWORD length[2] = {size_in, size_in};
        LONG code[2];
        for (int s = 0; s < 2; ++s) {
          std::memset(name[s], 0xBD, sizeof name[s]);
          code[s] = p.reg[s]->RegEnumKeyExA(p.slot[s][slot], index, name[s], &length[s], nullptr, nullptr,
                                            nullptr, nullptr);
        }
        Check(step, "enum key", code[0], code[1]);
        if (length[0] != length[1]) Mismatch(step, "enum key", "length");
        if (std::memcmp(name[0], name[1], sizeof name[0]) != 0) Mismatch(step, "enum key", "name buffer");
        break;
      }
      case 3: {  // enumerate values
        const int slot = in.Byte() % kSlots;
        const DWORD index = in.Byte() % 6;
        const DWORD name_size = kSizes[in.Byte() % 9];
        const std::uint8_t data_pick = in.Byte();
        const bool no_data = data_pick % 10 == 9;
        const DWORD data_size = kSizes[data_pick % 9];
        char name[2][4096];
        BYTE buffer[2][4096];
        DWORD name_length[2] = {name_size, name_size};
        DWORD data_length[2] = {data_size, data_size};
        DWORD type[2] = {0xDEAD, 0xDEAD};
        LONG code[2];
        for (int s = 0; s < 2; ++s) {
          std::memset(name[s], 0xBD, sizeof name[s]);
          std::memset(buffer[s], 0xBD, sizeof buffer[s]);
          code[s] = p.reg[s]->RegEnumValueA(p.slot[s][slot], index, name[s], &name_length[s], nullptr, &type[s],
                                            no_data ? nullptr : buffer[s], no_data ? nullptr : &data_length[s]);
        }
        Check(step, "enum value", code[0], code[1]);
        if (std::memcmp(name[0], name[1], sizeof name[0]) != 0) Mismatch(step, "enum value", "name buffer");
        if (std::memcmp(buffer[0], buffer[1], sizeof buffer[0]) != 0) Mismatch(step, "enum value", "data buffer");
        if (code[0] == ERROR_SUCCESS || code[0] == ERROR_MORE_DATA) {
          if (data_length[0] != data_length[1]) Mismatch(step, "enum value", "data size");
        }
        if (code[0] == ERROR_SUCCESS) {
          if (name_length[0] != name_length[1]) Mismatch(step, "enum value", "name length");
          if (type[0] != type[1]) Mismatch(step, "enum value", "type");
        }
        break;
      }
      case 4: {  // set value
        const int slot = in.Byte() % kSlots;
        const std::string name = ValueName(in);
        const std::uint8_t type_pick = in.Byte();
        const DWORD type = type_pick % 4 == 0 ? REG_BINARY : type_pick % 4 == 1 ? REG_DWORD : REG_SZ;
        std::string value;
        const int length = in.Byte() % 12;
        for (int i = 0; i < length; ++i) value += static_cast<char>("aZ\0я\xd1"[in.Byte() % 5]);
        if (type_pick >= 0xF0) value.assign(2000, 'v');  // more than the listing's buffer
        LONG code[2];
        for (int s = 0; s < 2; ++s)
          code[s] = p.reg[s]->RegSetValueExA(p.slot[s][slot], name.c_str(), 0, type,
                                             reinterpret_cast<const BYTE*>(value.data()),
                                             static_cast<DWORD>(value.size()));
        Check(step, "set value", code[0], code[1]);
        break;
      }
      case 5: {  // delete key
        const std::uint8_t base = in.Byte();
        const std::string path = Path(in);
        if (path.empty()) break;  // deleting the handle's own key: see the report
        LONG code[2];
        for (int s = 0; s < 2; ++s) code[s] = p.reg[s]->RegDeleteKeyA(Base(p, s, base), path.c_str());
        if (kTrace) std::fprintf(stderr, "  base %x/%x path \"%s\"\n", Base(p, 0, base), Base(p, 1, base), path.c_str());
        CheckPathCall(step, "delete key", code[0], code[1]);
        break;
      }
      case 6: {  // delete value
        const int slot = in.Byte() % kSlots;
        const std::string name = ValueName(in);
        LONG code[2];
        for (int s = 0; s < 2; ++s) code[s] = p.reg[s]->RegDeleteValueA(p.slot[s][slot], name.c_str());
        Check(step, "delete value", code[0], code[1]);
        break;
      }
      case 7: {  // close
        const int slot = in.Byte() % kSlots;
        LONG code[2];
        for (int s = 0; s < 2; ++s) code[s] = p.reg[s]->RegCloseKey(p.slot[s][slot]);
        Check(step, "close", code[0], code[1]);
        // The slot keeps the closed handle: later calls with it must give 6 on both.
        break;
      }
      case 8:
        Check(step, "begin", hive->BeginTransaction(), model.BeginTransaction());
        break;
      case 9:
        Check(step, "commit", hive->CommitTransaction(), model.CommitTransaction());
        break;
      case 10:
        hive->RollbackTransaction();
        model.RollbackTransaction();
        if (kTrace) std::fprintf(stderr, "%d rollback\n", step);
        break;
    }
  }
  if (model.InTransaction()) {
    Check(-1, "final commit", hive->CommitTransaction(), model.CommitTransaction());
  }
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS}) {
    const std::string a = fuzz::BoundedDump(*hive, root);
    const std::string b = fuzz::BoundedDump(model, root);
    if (a != b) Mismatch(-1, "trees", "\n--- hive\n" + a + "\n--- model\n" + b);
  }
  return 0;
}
