// The in-memory model and the hive driven by the same random calls must
// answer the same codes and hold the same classes store after each call.
#include <random>

#include "store/StoreFixture.h"

namespace zandrel::testing {
namespace {

class Differential : public ::testing::TestWithParam<unsigned> {};

std::string Pick(std::mt19937& rng, const std::vector<std::string>& pool) {
  return pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
}

TEST_P(Differential, SameCodesAndSameStore) {
  const auto& kinds = RegistryKinds();
  if (kinds.size() < 2) GTEST_SKIP() << "no second registry in this build";
  TempDir dir;
  std::unique_ptr<IRegistry> model = kinds[0].make(dir.Path());
  std::unique_ptr<IRegistry> other = kinds[1].make(dir.Path());
  std::mt19937 rng(GetParam());
  const std::vector<std::string> names = {".zq", ".ZQ", "Zq Title", "zq title", "ёлка", "ЁЛКА", "shell", "Shell",
                                          "b", "A", "B2", "._sln", ".zip", "straße", "STRASSE"};
  const std::vector<std::string> valueNames = {"", "Val", "VAL", "x"};
  auto path = [&] {
    std::string p = Pick(rng, names);
    for (int depth = std::uniform_int_distribution<int>(0, 2)(rng); depth > 0; --depth) p.append("\\").append(Pick(rng, names));
    return p;
  };
  bool inTransaction = false;
  for (int step = 0; step < 400; ++step) {
    const int op = std::uniform_int_distribution<int>(0, 9)(rng);
    const std::string p = path();
    const HKEY root = (rng() & 1) ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
    const std::string full = root == HKEY_CLASSES_ROOT ? p : "SOFTWARE\\Classes\\" + p;
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " " + full);
    auto both = [&](const std::function<LONG(IRegistry&)>& call) {
      LONG a = call(*model);
      LONG b = call(*other);
      EXPECT_EQ(a, b);
      return a;
    };
    switch (op) {
      case 0:
      case 1:
      case 2:
        both([&](IRegistry& r) {
          HKEY key = 0;
          DWORD disposition = 0;
          LONG code = r.RegCreateKeyExA(root, full.c_str(), 0, "", 0, 0x3F, nullptr, &key, &disposition);
          if (code == ERROR_SUCCESS) r.RegCloseKey(key);
          return code == ERROR_SUCCESS ? -static_cast<LONG>(disposition) : code;
        });
        break;
      case 3:
      case 4: {
        const std::string name = Pick(rng, valueNames);
        std::string data(std::uniform_int_distribution<int>(0, 6)(rng), 'd');
        if (!data.empty() && (rng() & 1)) data[rng() % data.size()] = '\0';
        const DWORD type = (rng() & 3) == 0 ? REG_BINARY : REG_SZ;
        const REGSAM access = (rng() & 7) == 0 ? KEY_READ : KEY_WRITE;
        both([&](IRegistry& r) {
          HKEY key = 0;
          LONG code = r.RegOpenKeyExA(root, full.c_str(), 0, access, &key);
          if (code != ERROR_SUCCESS) return code + 10000;
          code = r.RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(data.size()));
          r.RegCloseKey(key);
          return code;
        });
        break;
      }
      case 5:
      case 6:
        both([&](IRegistry& r) { return r.RegDeleteKeyA(root, full.c_str()); });
        break;
      case 7: {
        const std::string name = Pick(rng, valueNames);
        both([&](IRegistry& r) {
          HKEY key = 0;
          LONG code = r.RegOpenKeyExA(root, full.c_str(), 0, KEY_ALL_ACCESS, &key);
          if (code != ERROR_SUCCESS) return code + 10000;
          code = r.RegDeleteValueA(key, name.c_str());
          r.RegCloseKey(key);
          return code;
        });
        break;
      }
      case 8:
        if (!inTransaction) inTransaction = both([](IRegistry& r) { return r.BeginTransaction(); }) == 0;
        break;
      case 9:
        if (inTransaction) {
          if (rng() & 1) {
            both([](IRegistry& r) { return r.CommitTransaction(); });
          } else {
            model->RollbackTransaction();
            other->RollbackTransaction();
          }
          inTransaction = false;
        }
        break;
    }
    ASSERT_EQ(DumpClasses(*model), DumpClasses(*other));
  }
  if (inTransaction) {
    model->RollbackTransaction();
    other->RollbackTransaction();
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
}  // namespace zandrel::testing
