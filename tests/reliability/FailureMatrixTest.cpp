// A failure at any call of an add or a removal, with each code the registry
// gives, end to end through the manager window on a hive: the message of the
// step that failed, in order and with its flags; the window carries on (the
// same command then succeeds); and the classes store is either untouched or
// holds the whole change, never part of it.
//
// Which message a failure gives is read off the call that failed: the
// failing run makes the same calls as a clean run up to the failed one, so
// the clean run's log names it (operation, key, whether a transaction was
// open, what the registry would have answered).
#include <gtest/gtest.h>

#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/FailingRegistry.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

constexpr LONG kCodes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ERROR_KEY_DELETED,
                           ERROR_REGISTRY_IO_FAILED};

const std::string kExt = ".new";
const std::string kTitle = "Новый файл";
const std::string kOldExt = ".zq";
const std::string kOldTitle = "Zq.Document";

struct Expected {
  std::vector<std::string> texts;  // every box, in order
  bool changed = false;            // the store holds the whole change
  bool notified = false;           // the shell was told
};

class FailureMatrix : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    program_ = dir_->WriteFile("Program Files/zq/viewer", "#!/bin/sh\n");
    auto hive = MustOpenHive(dir_->File("template.hive"));
    ASSERT_NE(hive, nullptr);
    SeedAssociation(*hive, ".txt", "txtfile", "/usr/bin/edit %1");
    SeedAssociation(*hive, kOldExt, kOldTitle, program_ + " %1");
    SeedValue(*hive, HKEY_CLASSES_ROOT, kOldTitle + "\\DefaultIcon", "", REG_SZ, program_ + ",1");
    before_ = new std::string(DumpClasses(*hive));
  }
  static void TearDownTestSuite() {
    delete before_;
    delete dir_;
  }

  struct Outcome {
    std::vector<ui::HeadlessPlatform::Message> boxes;
    std::size_t notifies = 0;
    std::string dump;
    std::vector<FailingRegistry::Call> log;
    std::string retried;  // the store after the command was given again without failures
    std::vector<std::string> retryTexts;
  };

  // Runs the add or the removal with the nth call failing with `code` (n = 0: none).
  Outcome Run(bool add, std::uint64_t n, LONG code) {
    const std::string path = dir_->File("matrix.hive");
    CopyHive(dir_->File("template.hive"), path);
    auto hive = MustOpenHive(path);
    Outcome out;
    if (!hive) return out;
    FailingRegistry failing(*hive);
    HeadlessManager manager(failing);
    failing.FailNth(n, code);
    if (add)
      manager.Add(kExt, kTitle, program_);
    else
      manager.Remove(kOldExt, kOldTitle);
    out.boxes = manager.platform.messages;
    out.notifies = manager.platform.shellNotifies.size();
    out.log = failing.log;
    out.dump = DumpClasses(*hive);
    failing.ClearFailure();
    manager.platform.ClearRecord();
    manager.ProceedAgain();
    out.retryTexts = manager.Texts();
    out.retried = DumpClasses(*hive);
    return out;
  }

  // How many opens of clean[i]'s key came before it since the transaction
  // began; -1 when clean[i] is no open inside the transaction.
  static int OpensBeforeInTransaction(const std::vector<FailingRegistry::Call>& clean, std::size_t i) {
    if (clean[i].op != RegOp::Open) return -1;
    bool begun = false;
    int count = 0;
    for (std::size_t k = 0; k < i; ++k) {
      if (clean[k].op == RegOp::Begin) begun = true;
      if (begun && clean[k].op == RegOp::Open && clean[k].text == clean[i].text) ++count;
    }
    return begun ? count : -1;
  }
  // The open that DeleteKey's check (EnumSubKeys) makes of a key it is asked
  // to delete; the extension key has been opened once before, to read its title.
  static bool DeleteKeyCheck(const std::vector<FailingRegistry::Call>& clean, std::size_t i) {
    const int before = OpensBeforeInTransaction(clean, i);
    return (clean[i].text == kOldExt && before == 1) || (clean[i].text == kOldTitle && before == 0);
  }

  // What failing clean.log[n - 1] must give.
  Expected Expect(bool add, const std::vector<FailingRegistry::Call>& clean, std::size_t n, LONG code) {
    const FailingRegistry::Call& call = clean[n - 1];
    bool inTransaction = false;
    std::string lastOpen;
    std::size_t lastOpenIndex = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
      if (clean[i].op == RegOp::Begin) inTransaction = true;
      if (clean[i].op == RegOp::Open) {
        lastOpen = clean[i].text;
        lastOpenIndex = i;
      }
    }
    const bool deleteKeyCheck = DeleteKeyCheck(clean, n - 1);
    // A close's code is never looked at; an enumeration that would have ended
    // anyway ends the same; the walk of EnumSubKeys keeps no names.
    const bool harmless =
        call.op == RegOp::Close ||
        (call.op == RegOp::EnumKey &&
         (call.code == ERROR_NO_MORE_ITEMS || DeleteKeyCheck(clean, lastOpenIndex)));
    Expected e;
    if (add) {
      const std::string command = kTitle + "\\shell\\open\\command";
      const std::string icon = kTitle + "\\DefaultIcon";
      // Before the transaction only the existence tests run; a failed test
      // reads as "not there", which is the truth here.
      if (harmless || (!inTransaction && call.op != RegOp::Begin)) return Expected{{kAddDone}, true, false};
      std::string value = call.op == RegOp::SetValue ? lastOpen : call.text;
      if (call.op == RegOp::Begin || (call.op == RegOp::Create && call.text == kExt)) {
        e.texts = {"Unable to create " + kExt};
      } else if (call.op == RegOp::Create) {
        e.texts = {(call.text == icon ? "Unable create " : "Unable to create ") + call.text};
      } else if (call.op == RegOp::Commit) {
        e.texts = {"Unable to set value to " + icon};
      } else if (call.op == RegOp::Open || call.op == RegOp::SetValue) {
        if (call.op == RegOp::SetValue) {
          const std::string data = value == kExt ? kTitle : value == command ? "\"" + program_ + "\" \"%1\"" : program_ + ",1";
          e.texts.push_back("Unable to set value of " + data + " to subkey ");
        }
        e.texts.push_back(value == kExt ? "Unable to set value of " + kTitle + " to " + kExt
                                        : "Unable to set value to " + value);
      } else {
        ADD_FAILURE() << "no expectation for failing " << OpName(call.op) << " " << call.text;
      }
      return e;
    }
    const std::string question = RemoveQuestion(kOldExt, true);
    if (harmless) return Expected{{question, RemoveDone(kOldExt)}, true, true};
    if (!inTransaction && call.op == RegOp::Open) {
      return Expected{{question, call.text == kOldExt
                                     ? "Unable to open subkey " + kOldExt + ".  Pleaser re-check your entry"
                                     : "Не удалось открыть subkey " + kOldTitle + ".  Please re-check your entry"},
                      false, false};
    }
    // Reading the extension's title: a value too long for a key name, or none,
    // is not the description's title; any other failure fails the removal.
    if (call.op == RegOp::EnumValue && lastOpen == kOldExt && (code == ERROR_MORE_DATA || code == ERROR_NO_MORE_ITEMS))
      return Expected{{question, "Описание " + kOldTitle + " не принадлежит расширению " + kOldExt + ". Ничего не удалено."}, false, false};
    e.texts = {question};
    if (deleteKeyCheck)
      e.texts.push_back("Unable to open " + call.text);
    e.texts.push_back(RemoveFailed(kOldExt));
    e.notified = true;
    return e;
  }

  void Sweep(bool add) {
    const Outcome clean = Run(add, 0, 0);
    ASSERT_FALSE(clean.log.empty());
    const std::string after = clean.dump;
    ASSERT_NE(after, *before_);
    const std::size_t calls = clean.log.size();
    int runs = 0, failures = 0;
    for (LONG code : kCodes) {
      for (std::size_t n = 1; n <= calls; ++n) {
        const FailingRegistry::Call& call = clean.log[n - 1];
        SCOPED_TRACE(std::string(add ? "add" : "remove") + ": call " + std::to_string(n) + " of " +
                     std::to_string(calls) + " (" + OpName(call.op) + " " + call.text + ") fails with " +
                     std::to_string(code));
        const Outcome out = Run(add, n, code);
        const Expected e = Expect(add, clean.log, n, code);
        ++runs;
        failures += !e.changed;
        std::vector<std::string> texts;
        for (const auto& box : out.boxes) {
          texts.push_back(box.text);
          EXPECT_EQ(box.title, "Zandrel");
          EXPECT_EQ(box.flags, box.text.rfind("Удаляется", 0) == 0 ? 0x24 : 0) << box.text;
        }
        EXPECT_EQ(texts, e.texts);
        EXPECT_EQ(out.notifies, e.notified ? 1u : 0u);
        EXPECT_EQ(out.dump, e.changed ? after : *before_) << "half-done change";
        // The window carries on: the same command again, without failures.
        if (e.changed) {
          EXPECT_EQ(out.retryTexts.back(), add ? kExt + " already in registry"
                                               : "Unable to open subkey " + kOldExt + ".  Pleaser re-check your entry");
        } else {
          EXPECT_EQ(out.retryTexts.back(), add ? std::string(kAddDone) : RemoveDone(kOldExt));
        }
        EXPECT_EQ(out.retried, after);
      }
    }
    std::printf("%s: %zu calls x %zu codes = %d failure runs (%d of them refused the change)\n", add ? "add" : "remove",
                calls, std::size(kCodes), runs, failures);
  }

  static ScratchDir* dir_;
  static std::string program_;
  static std::string* before_;
};

ScratchDir* FailureMatrix::dir_ = nullptr;
std::string FailureMatrix::program_;
std::string* FailureMatrix::before_ = nullptr;

TEST_F(FailureMatrix, AddFailingAtEveryCallWithEveryCode) { Sweep(true); }
TEST_F(FailureMatrix, RemoveFailingAtEveryCallWithEveryCode) { Sweep(false); }

}  // namespace
}  // namespace zandrel::testing
