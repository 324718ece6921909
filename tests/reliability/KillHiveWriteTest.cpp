// An add, a removal, an import or a change of a program stopped at any moment leaves a hive that
// opens cleanly and holds everything from before or everything from after,
// never a mix. Each row names the operation and where it is stopped: killed
// (SIGKILL, in a child process) just before or after a registry call that
// changes the store, or at a write, truncate, sync or deletion SQLite makes
// to the hive's files; or refused by a full disk at each budget of bytes,
// after which the same change goes through once there is room.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "registry/hive/FaultVfs.h"
#include "registry/ForwardingRegistry.h"
#include "registry/hive/Hive.h"
#include "regfile/RegFile.h"
#include "regfile/RegParser.h"
#include "store/AssociationChanges.h"
#include "store/ProgramChange.h"
#include "support/FailingRegistry.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

enum class Op { kAdd, kRemove, kImport, kImportInBulk, kSet };
enum class Stop { kRegistryCall, kFileChange, kDiskFull };

std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    result.clear();
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
  }
  sqlite3_close_v2(db);
  return result;
}

class Crash : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FaultVfs::Install();
    dir = new TempDir;
    program = dir->Write("bin/zq viewer", "#!/bin/sh\n");
    dir->Write("bin/new viewer.exe", "MZ");
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int i = 0; i < 1000; ++i) {  // big enough that SQLite spills pages before the commit
      const std::string n = std::to_string(i);
      text += "[HKEY_CLASSES_ROOT\\.ext" + n + "]\r\n@=\"Type" + n + ".Файл\"\r\n\r\n[HKEY_CLASSES_ROOT\\Type" + n +
              ".Файл\\shell\\open\\command]\r\n@=\"/opt/app" + n + "/viewer %1\"\r\n\r\n";
    }
    dir->Write("large.reg", text);
    std::unique_ptr<hive::HiveRegistry> hive;
    ASSERT_TRUE(IsOk(hive::OpenHive(dir->File("template.db"), &hive)));
    SeedAssociation(*hive, ".txt", "txtfile", "/usr/bin/edit %1");
    SeedAssociation(*hive, ".zq", "Zq.Document", program + " %1");
    SeedValue(*hive, "Zq.Document\\DefaultIcon", "", REG_SZ, program + ",1");
    SeedValue(*hive, "Zq.Document\\shell\\print\\command", "", REG_SZ, program + " -p %1");
    before = new std::string(DumpClasses(*hive));
  }
  static void TearDownTestSuite() {
    delete before;
    delete dir;
  }

  // A fresh copy of the template hive at `name`.
  static std::string Copy(const std::string& name) {
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink(dir->File(name + suffix).c_str());
    return dir->Write(name, ReadFile(dir->File("template.db")));
  }
  // Runs the operation on `registry`, over `hive`; true when it reports success.
  static bool Run(Op op, IRegistry& registry, hive::HiveRegistry& hive) {
    RecordingPrompter p;
    p.AnswerNext(IDYES);
    CallsOnly calls(registry);
    if (op == Op::kImport) return regfile::ImportRegFile(calls, dir->File("large.reg")).Ok();
    // The transaction through `registry`, the changes made by the hive itself.
    struct Bulk : ForwardingRegistry {
      Bulk(IRegistry& r, hive::HiveRegistry& h) : ForwardingRegistry(r), hive(h) {}
      LONG ApplyChanges(const std::deque<registry::Change>& c, const registry::Change** f) override {
        return hive.ApplyChanges(c, f);
      }
      hive::HiveRegistry& hive;
    } bulk(registry, hive);
    if (op == Op::kImportInBulk) return regfile::ImportRegFile(bulk, dir->File("large.reg")).Ok();
    if (op == Op::kSet) return store::ChangeProgram(registry, {".zq", dir->File("bin/new viewer.exe")}).committed;
    if (op == Op::kAdd) store::CreateAssociation(registry, p, {".new", "Новый файл", program, 0});
    if (op == Op::kRemove) store::RemoveAssociation(registry, p, {".zq", "Zq.Document", 0});
    return !p.boxes.empty() && (p.boxes.back().text == "Всё прошло успешно." ||
                                p.boxes.back().text == "Ассоциация удаленна из реестра .zq");
  }
  // After a stop: SQLite finds the files sound, the hive opens, and the store
  // is as before (false) or as after (true).
  static bool Inspect(const std::string& path, const std::string& after) {
    EXPECT_EQ(IntegrityCheck(path), "ok");
    std::unique_ptr<hive::HiveRegistry> hive;
    EXPECT_TRUE(IsOk(hive::OpenHive(path, &hive)));
    const std::string now = hive ? DumpClasses(*hive) : "";
    EXPECT_TRUE(now == *before || now == after) << "neither before nor after:\n" << now;
    return now == after;
  }

  inline static TempDir* dir = nullptr;
  inline static std::string program;
  inline static std::string* before = nullptr;
};

TEST_F(Crash, StoppedAnywhereTheStoreIsBeforeOrAfter) {
  const struct {
    const char* name;
    Op op;
    Stop stop;
    std::uint64_t spread;  // at most this many points, the last ones always (0: every point)
  } rows[] = {
      {"add, killed at registry calls", Op::kAdd, Stop::kRegistryCall, 0},
      {"removal, killed at registry calls", Op::kRemove, Stop::kRegistryCall, 0},
      {"add, killed at file changes", Op::kAdd, Stop::kFileChange, 0},
      {"removal, killed at file changes", Op::kRemove, Stop::kFileChange, 0},
      {"set, killed at registry calls", Op::kSet, Stop::kRegistryCall, 0},
      {"set, killed at file changes", Op::kSet, Stop::kFileChange, 0},
      {"set, refused by a full disk", Op::kSet, Stop::kDiskFull, 0},
      {"import, killed at file changes", Op::kImport, Stop::kFileChange, 40},
      {"add, refused by a full disk", Op::kAdd, Stop::kDiskFull, 0},
      {"import, refused by a full disk", Op::kImport, Stop::kDiskFull, 30},
      {"import in bulk, killed at file changes", Op::kImportInBulk, Stop::kFileChange, 40},
      {"import in bulk, refused by a full disk", Op::kImportInBulk, Stop::kDiskFull, 30},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = Copy("run.db");
    std::uint64_t calls = 0, changes = 0, bytes = 0;
    std::string after;
    {
      std::unique_ptr<hive::HiveRegistry> hive;
      ASSERT_TRUE(IsOk(hive::OpenHive(path, &hive)));
      FailingRegistry counting(*hive);
      FaultVfs::Disarm();
      ASSERT_TRUE(Run(row.op, counting, *hive));
      calls = counting.Count(kChangeOps);
      changes = FaultVfs::Changes();
      bytes = FaultVfs::BytesWritten();
      after = DumpClasses(*hive);
    }
    ASSERT_NE(after, *before);
    const std::uint64_t count = row.stop == Stop::kRegistryCall ? 2 * calls
                                : row.stop == Stop::kFileChange ? changes
                                                                : bytes / 256 + 2;
    const std::uint64_t tail = 12, limit = row.spread == 0 ? count : row.spread;
    int befores = 0, afters = 0;
    for (std::uint64_t point = 1; point <= count; ++point) {
      if (count > limit && point <= count - tail && (point - 1) % ((count - tail) / (limit - tail) + 1) != 0) continue;
      SCOPED_TRACE("point " + std::to_string(point) + " of " + std::to_string(count));
      Copy("run.db");
      if (row.stop == Stop::kDiskFull) {
        std::unique_ptr<hive::HiveRegistry> hive;
        ASSERT_TRUE(IsOk(hive::OpenHive(path, &hive)));
        FaultVfs::FullAfterBytes((point - 1) * 256);
        const bool done = Run(row.op, *hive, *hive);
        const bool refused = FaultVfs::FullRefusals() > 0;
        FaultVfs::Disarm();
        EXPECT_EQ(done, !refused);
        EXPECT_EQ(DumpClasses(*hive), done ? after : *before);
        if (!done) {
          EXPECT_TRUE(Run(row.op, *hive, *hive)) << "room again, and the same change goes through";
        }
        befores += refused;
        continue;
      }
      std::fflush(nullptr);
      const pid_t child = ::fork();
      if (child == 0) {
        if (row.stop == Stop::kFileChange) FaultVfs::KillAtChange(point);
        std::unique_ptr<hive::HiveRegistry> hive;
        if (!hive::OpenHive(path, &hive).Ok()) ::_exit(5);
        FailingRegistry killing(*hive);
        if (row.stop == Stop::kRegistryCall) killing.KillAt((point + 1) / 2, point % 2 == 0);
        Run(row.op, killing, *hive);
        ::_exit(4);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
      const bool found = Inspect(path, after);
      if (row.stop == Stop::kRegistryCall) {
        EXPECT_EQ(found, point == count) << "only a kill after the commit keeps it";
      }
      (found ? afters : befores) += 1;
    }
    EXPECT_GT(befores, 0);
    std::printf("%s: %llu points, %d before, %d after\n", row.name, static_cast<unsigned long long>(count), befores,
                afters);
  }
}

}  // namespace
}  // namespace zandrel::testing
