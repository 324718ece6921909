// The file lines a change keeps: each row's file written as the change
// left it, undone from its record (read back from its bytes) to the bytes
// it had, and redone from the undo's inverse record. And the journal that
// puts a change's files right when it died before its commit.

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#endif

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/FileRecord.h"
#include "capture/HistoryRegistry.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using capture::FileContent;

TEST(FileRecord, UndoAndRedoGiveEachFileItsBytes) {
  const struct {
    FileContent before, after;
  } rows[] = {
      {"[A]\r\na=1;\r\n\r\n[B]\r\nb=2;\r\n", "[A]\r\na=3;\r\nc=1;\r\n\r\n[B]\r\nb=2;\r\n"},  // CR LF kept
      {"[A]\na=1;", "[A]\na=1;\n[B]\nb=2;"},                                                 // no last line end
      {std::nullopt, "[A]\na=1;\n"},                                                         // made
      {"x\ny\nz\n", std::nullopt},                                                           // removed
      {"same\n", "same\n"},
  };
  TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.before.value_or("(none)") + " -> " + row.after.value_or("(none)"));
    const std::string path = dir.File("mimeapps.list");
    capture::FileRecord record{{capture::DiffFile(path, row.before, row.after)}}, read;
    ASSERT_TRUE(capture::DecodeFileRecord(capture::EncodeFileRecord(record), &read));
    EXPECT_EQ(read.files, record.files);
    capture::FileContents saved, undone, redone;
    ASSERT_TRUE(capture::WriteFiles({{path, row.after}}, &saved).Ok());
    std::string changed;
    ASSERT_TRUE(capture::UndoneContents(read, &undone, &changed)) << changed;
    EXPECT_EQ(undone, (capture::FileContents{{path, row.before}}));
    ASSERT_TRUE(capture::WriteFiles(undone, &saved).Ok());
    ASSERT_TRUE(capture::UndoneContents(capture::InverseFileRecord(read), &redone, &changed)) << changed;
    EXPECT_EQ(redone, (capture::FileContents{{path, row.after}}));
    const std::string bytes = capture::EncodeFileRecord(record);
    EXPECT_FALSE(capture::DecodeFileRecord(bytes.substr(0, bytes.size() - 1), &read)) << "cut short";
    capture::PutFilesBack({{path, std::nullopt}});
  }
}

// A change of two files (one made), committed through a history that
// journals them beside its store.
struct Change {
  explicit Change(const TempDir* in = nullptr) : dir(in != nullptr ? *in : own) { history.JournalFilesAt(journal); }
  TempDir own;
  const TempDir& dir;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  capture::HistoryRegistry history{*registry};
  std::string journal = dir.File("store.files"), a = dir.Write("a.list", "a0\n"), b = dir.File("b.list");
  capture::FileContents before{{a, "a0\n"}, {b, std::nullopt}}, after{{a, "a1\n"}, {b, "b1\n"}};
  capture::FileRecord record{{capture::DiffFile(a, "a0\n", "a1\n"), capture::DiffFile(b, std::nullopt, "b1\n")}};
  std::string failure;

  // One change through `registry`: a key, and the files when `files`.
  static LONG Commit(capture::HistoryRegistry& history, Change& c, bool files) {
    if (const LONG code = history.BeginTransaction(); code != ERROR_SUCCESS) return code;
    SeedValue(history, "Zq.Document", "", REG_SZ, files ? "with files" : "keys only");
    if (files) history.AttachFiles(c.record, c.after, &c.failure);
    return history.CommitTransaction();
  }
  std::string Files() {
    return capture::ReadContent(a, &failure).value_or("-") + capture::ReadContent(b, &failure).value_or("-");
  }
  bool Journalled() { return std::filesystem::exists(journal); }
};

TEST(FileJournal, TheNextChangePutsBackOnlyWhatADeadChangeWrote) {
  enum class Kept { kNothing, kThisChange, kAnotherChange };  // what the history holds as number 1
  enum class Planted { kWhole, kCut, kOtherUsers, kLink };
  const struct {
    const char* name;
    Kept kept;
    capture::FileContent a, b;  // the files as the death left them
    Planted planted;            // the journal at its place
    std::string files;          // a's and b's bytes after the repair ("-": none)
  } rows[] = {
      {"died before its commit", Kept::kNothing, "a1\n", "b1\n", Planted::kWhole, "a0\n-"},
      {"died writing its second file", Kept::kNothing, "a1\n", std::nullopt, Planted::kWhole, "a0\n-"},
      {"the repair died half way", Kept::kNothing, "a0\n", "b1\n", Planted::kWhole, "a0\n-"},
      {"a file changed since is left", Kept::kNothing, "edited\n", "b1\n", Planted::kWhole, "edited\n-"},
      {"another change has its number", Kept::kAnotherChange, "a1\n", "b1\n", Planted::kWhole, "a0\n-"},
      {"died after its commit", Kept::kThisChange, "a1\n", "b1\n", Planted::kWhole, "a1\nb1\n"},
      {"a damaged journal stays", Kept::kNothing, "a1\n", "b1\n", Planted::kCut, "a1\nb1\n"},
#ifndef _WIN32
      {"another user's journal stays", Kept::kNothing, "a1\n", "b1\n", Planted::kOtherUsers, "a1\nb1\n"},
      {"a symbolic link to a journal stays", Kept::kNothing, "a1\n", "b1\n", Planted::kLink, "a1\nb1\n"},
#endif
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Change c;
    if (row.kept != Kept::kNothing) {
      ASSERT_EQ(Change::Commit(c.history, c, row.kept == Kept::kThisChange), ERROR_SUCCESS);
    }
    EXPECT_FALSE(c.Journalled()) << "a commit takes its journal away";
    const std::string journal = capture::EncodeFileJournal({1, c.record, c.before, c.after});
    const bool stays = row.planted != Planted::kWhole;
    WriteFile(row.planted == Planted::kLink ? c.journal + ".real" : c.journal,
              row.planted == Planted::kCut ? journal.substr(0, journal.size() - 1) : journal);
#ifndef _WIN32
    if (row.planted == Planted::kLink) {
      ASSERT_EQ(::symlink((c.journal + ".real").c_str(), c.journal.c_str()), 0);
    }
    if (row.planted == Planted::kOtherUsers) {
      ASSERT_EQ(::lchown(c.journal.c_str(), ::geteuid() + 1, 0), 0);
    }
#endif
    capture::PutFilesBack({{c.a, row.a}, {c.b, row.b}});
    c.history.RepairFiles();
    EXPECT_EQ(c.Files(), row.files);
    EXPECT_EQ(c.Journalled(), stays);
    // A change of keys alone goes on; one of files does not write over a journal that stays.
    EXPECT_EQ(Change::Commit(c.history, c, false), ERROR_SUCCESS);
    EXPECT_EQ(Change::Commit(c.history, c, true), stays ? ERROR_WRITE_FAULT : ERROR_SUCCESS);
    EXPECT_EQ(c.failure, stays ? c.journal +
                                     ": an earlier change left its files half done, and they could not "
                                     "be put back"
                               : "");
  }
}

#ifndef _WIN32
TEST(FileJournal, WhatAWriterKilledWritingTheJournalLeftGoesOnceAMinuteOld) {
  Change c;
  const std::string left = c.dir.Write(".store.files.zandrel-AbC123", "");
  const std::string writing = c.dir.Write(".store.files.zandrel-NOW123", "");
  const std::string others = c.dir.Write(".a.list.zandrel-AbC123", "");
  for (const std::string& file : {left, others}) {
    const timespec old[2] = {{::time(nullptr) - 61, 0}, {::time(nullptr) - 61, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  }
  ASSERT_EQ(Change::Commit(c.history, c, false), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(writing));
  EXPECT_TRUE(std::filesystem::exists(others)) << "not the journal's";
}
#endif

// The desktop files' lock (the projection's) is held from before the store's
// own lock to the transaction's end, so an undo's reading and writing of
// them meets no projection between; a nested begin takes it not again.
TEST(FileJournal, EachChangeHoldsTheFilesLockAroundItsTransaction) {
  Change c;
  FailingRegistry calls(*c.registry);
  std::string order;
  calls.before = [&order](RegOp op) {
    order += op == Begin ? "begin " : op == Commit ? "commit " : op == Rollback ? "rollback " : "";
  };
  capture::HistoryRegistry history(calls);
  history.HoldFilesWith([&order] {
    order += "hold ";
    return std::shared_ptr<void>(&order, [&order](void*) { order += "release "; });
  });
  ASSERT_EQ(Change::Commit(history, c, true), ERROR_SUCCESS);
  ASSERT_EQ(history.BeginTransaction(), ERROR_SUCCESS);
  EXPECT_NE(history.BeginTransaction(), ERROR_SUCCESS);
  history.RollbackTransaction();
  EXPECT_EQ(order, "hold begin commit release hold begin begin rollback release ");
}

#ifndef _WIN32
// A copy killed just before (or after) its commit leaves its files written
// and its journal; the next start puts them back (or keeps them, the change
// being in the history). A second copy starting in the middle of a change
// waits for it and puts nothing back.
TEST(FileJournal, AKilledChangeIsPutRightAtTheNextStartAndALiveOneIsLeftAlone) {
  for (const bool after : {false, true}) {
    SCOPED_TRACE(after ? "killed after its commit" : "killed before its commit");
    Change c;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
      const std::unique_ptr<IRegistry> store = Backends()[0].reopen(c.dir.Path());
      FailingRegistry killing(*store);
      killing.KillAt(1, after, Commit);
      capture::HistoryRegistry history(killing);
      history.JournalFilesAt(c.journal);
      Change::Commit(history, c, true);
      ::_exit(4);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(c.Files(), "a1\nb1\n");
    EXPECT_TRUE(c.Journalled());
    c.history.RepairFiles();
    EXPECT_EQ(c.Files(), after ? "a1\nb1\n" : "a0\n-");
    EXPECT_FALSE(c.Journalled());
  }
  // The second copy is a process of its own from before the store is opened here, as SQLite asks.
  TempDir shared;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::fflush(nullptr);
  const pid_t second = ::fork();
  if (second == 0) {
    char byte = 0;
    if (::read(go[0], &byte, 1) != 1) ::_exit(3);
    const std::unique_ptr<IRegistry> store = Backends()[0].reopen(shared.Path());
    capture::HistoryRegistry history(*store);
    history.JournalFilesAt(shared.File("store.files"));
    history.RepairFiles();
    ::_exit(0);
  }
  Change c(&shared);
  FailingRegistry pausing(*c.registry);
  pausing.before = [&](RegOp op) {
    if (op != Commit || !c.Journalled()) return;
    EXPECT_EQ(::write(go[1], "!", 1), 1);
    ::usleep(300 * 1000);  // time enough for the second copy to put the files back, were it not kept out
  };
  capture::HistoryRegistry history(pausing);
  history.JournalFilesAt(c.journal);
  ASSERT_EQ(Change::Commit(history, c, true), ERROR_SUCCESS);
  int status = 0;
  ::waitpid(second, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(c.Files(), "a1\nb1\n");
  EXPECT_FALSE(c.Journalled());
}

// A commit refused by a full disk puts the files back; one that cannot be
// put back keeps the journal, and the next change puts it back.
TEST(FileJournal, AFileTheFullDiskKeptWrittenIsPutBackByTheNextChange) {
  Change c;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const std::unique_ptr<IRegistry> store = Backends()[0].reopen(c.dir.Path());
    FailingRegistry full(*store);
    full.FailNth(1, ERROR_DISK_FULL, Commit);
    full.before = [](RegOp op) {
      if (op != Commit) return;
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit byte{1, 1};  // no file grows past its first byte from here on
      ::setrlimit(RLIMIT_FSIZE, &byte);
    };
    capture::HistoryRegistry history(full);
    history.JournalFilesAt(c.journal);
    ::_exit(Change::Commit(history, c, true) == ERROR_DISK_FULL ? 0 : 4);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(c.Files(), "a1\n-") << "b removed, a not written back";
  EXPECT_TRUE(c.Journalled());
  c.history.RepairFiles();
  EXPECT_EQ(c.Files(), "a0\n-");
  EXPECT_FALSE(c.Journalled());
}
#endif

}  // namespace
}  // namespace zandrel::testing
