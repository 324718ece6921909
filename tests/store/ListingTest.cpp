#include "store/AssociationListing.h"
#include "store/StoreFixture.h"

namespace zandrel::testing {
namespace {

using store::AssociationListing;
using store::AssociationRow;
using store::ListingResult;

class Listing : public StoreTest {
 protected:
  std::vector<AssociationRow> List(IRegistry& reg) { return AssociationListing(reg).List().rows; }
  std::vector<AssociationRow> List() { return List(*registry); }
};

TEST_P(Listing, RowsKeptDroppedAndNotMade) {
  SeedAssociation(*registry, ".good", "Good File", "good.exe %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".nocmd", "", REG_SZ, "No Command");  // title key without a command
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".dword", "", REG_DWORD, "\x01\0\0\0");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".blank", "", REG_SZ, "   ");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".empty", "", REG_SZ, "");
  SeedKey(*registry, HKEY_CLASSES_ROOT, ".novalue");
  SeedAssociation(*registry, "notext", "Not Ext Title", "x %1");  // no leading ".": not an extension
  SeedAssociation(*registry, ".spaces", "Spaced ", "  cmd %1 ");
  SeedAssociation(*registry, ".blankcmd", "Blank Cmd", "   ");
  EXPECT_EQ(List(), (std::vector<AssociationRow>{{".good", "Good File", "good.exe %1"},
                                                 {".spaces", "Spaced ", "  cmd %1 "}}));
}

TEST_P(Listing, DefaultValueAfterNamedValuesIsFound) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".late", "Content Type", REG_SZ, "text/plain");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".late", "PerceivedType", REG_SZ, "text");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".late", "", REG_SZ, "Late Title");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Late Title\\shell\\open\\command", "", REG_SZ, "late %1");
  EXPECT_EQ(List(), (std::vector<AssociationRow>{{".late", "Late Title", "late %1"}}));
}

TEST_P(Listing, CommandKeyWithNamedFirstValueGivesNoRow) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".named", "", REG_SZ, "Named First");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Named First\\shell\\open\\command", "DelegateExecute", REG_SZ, "{x}");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Named First\\shell\\open\\command", "", REG_SZ, "named %1");
  EXPECT_TRUE(List().empty());
}

TEST_P(Listing, TooLargeValueIsPassedOverAndTheDefaultStillFound) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".big", "Blob", REG_BINARY, std::string(5000, 'x'));
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".big", "", REG_SZ, "Big Title");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Big Title\\shell\\open\\command", "", REG_SZ, "big %1");
  EXPECT_EQ(List(), (std::vector<AssociationRow>{{".big", "Big Title", "big %1"}}));
}

TEST_P(Listing, SubkeyEntryAnswering234IsPassedOverAndEnumerationGoesOn) {
  SeedAssociation(*registry, ".a1", "T1", "one %1");
  SeedAssociation(*registry, ".a2", "T2", "two %1");
  SeedAssociation(*registry, ".a3", "T3", "three %1");
  FailingRegistry failing(*registry);
  // The classes key's entries are enumerated first: the second one does not fit.
  failing.FailNth(2, ERROR_MORE_DATA, Ops(RegOp::EnumKey));
  EXPECT_EQ(List(failing), (std::vector<AssociationRow>{{".a1", "T1", "one %1"}, {".a3", "T3", "three %1"}}));
}

TEST_P(Listing, EnumerationEndsAtAnyOtherCode) {
  SeedAssociation(*registry, ".a1", "T1", "one %1");
  SeedAssociation(*registry, ".a2", "T2", "two %1");
  FailingRegistry failing(*registry);
  failing.FailNth(2, ERROR_ACCESS_DENIED, Ops(RegOp::EnumKey));
  EXPECT_EQ(List(failing), (std::vector<AssociationRow>{{".a1", "T1", "one %1"}}));
}

TEST_P(Listing, LongestNamesFitTheBuffers) {
  const std::string ext = "." + std::string(127, 'e') + std::string(127, 'x');  // 255 characters
  std::string title;
  for (int i = 0; i < 255; ++i) title += "Ж";  // 510 bytes
  std::string ext4 = ".";
  for (int i = 0; i < 127; ++i) ext4 += "\xF0\x9F\x98\x80";  // 128 characters, 509 bytes
  SeedAssociation(*registry, ext, title, "long %1");
  SeedAssociation(*registry, ext4, "Emoji", "emoji %1");
  std::vector<AssociationRow> rows = List();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE((rows[0] == AssociationRow{ext, title, "long %1"}) || (rows[1] == AssociationRow{ext, title, "long %1"}));
}

TEST_P(Listing, NonAsciiDescriptionAndCommandRoundTrip) {
  SeedAssociation(*registry, ".док", "Документ Ёжика", "C:\\Программы\\ёж.exe %1");
  EXPECT_EQ(List(), (std::vector<AssociationRow>{{".док", "Документ Ёжика", "C:\\Программы\\ёж.exe %1"}}));
}

TEST_P(Listing, CommandKeySpelledDifferentlyIsFound) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".cs", "", REG_SZ, "Case Title");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "case title\\SHELL\\open\\COMMAND", "", REG_SZ, "c %1");
  EXPECT_EQ(List(), (std::vector<AssociationRow>{{".cs", "Case Title", "c %1"}}));
}

TEST_P(Listing, WalkTakesTheLastQualifyingKeyAndStopsWhereAKeyCannotBeOpened) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".w", "", REG_SZ, "Walk");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Walk\\shell\\open\\command", "", REG_SZ, "top %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Walk\\shell\\open\\command\\sub", "", REG_SZ, "sub %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Walk\\shell\\open\\command\\sub2", "", REG_SZ, "sub2 %1");
  AssociationListing listing(*registry);
  EXPECT_EQ(listing.List().rows, (std::vector<AssociationRow>{{".w", "Walk", "sub2 %1"}}));
  EXPECT_FALSE(listing.WalkStopped());
  EXPECT_EQ(listing.CurrentRow(), 1u);

  // Opens: the classes key, ".w", the command key twice, then "sub" fails.
  FailingRegistry failing(*registry);
  failing.FailNth(5, ERROR_ACCESS_DENIED, Ops(RegOp::Open));
  AssociationListing stopped(failing);
  EXPECT_EQ(stopped.List().rows, (std::vector<AssociationRow>{{".w", "Walk", "top %1"}}));  // "sub2" not visited
  EXPECT_TRUE(stopped.WalkStopped());
}

TEST_P(Listing, IconKeyIsNeverRead) {
  SeedAssociation(*registry, ".i", "Icon Title", "i %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Icon Title\\DefaultIcon", "", REG_SZ, "i,1");
  FailingRegistry failing(*registry);
  List(failing);
  for (const auto& call : failing.log) EXPECT_EQ(call.text.find("DefaultIcon"), std::string::npos) << call.text;
}

// A user who may read the classes but not change them sees every row.
TEST_P(Listing, ReadRightsAreEnough) {
  SeedAssociation(*registry, ".a", "A", "a %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "A\\shell\\open\\command\\sub", "", REG_SZ, "sub %1");
  SeedAssociation(*registry, ".b", "B", "b %1");
  FailingRegistry readOnly(*registry);
  readOnly.RefuseOpenRights(~KEY_READ);
  EXPECT_EQ(List(readOnly), (std::vector<AssociationRow>{{".a", "A", "sub %1"}, {".b", "B", "b %1"}}));
}

TEST_P(Listing, ClassesKeyThatCannotBeOpened) {
  FailingRegistry failing(*registry);
  failing.FailNth(1, ERROR_ACCESS_DENIED, Ops(RegOp::Open));
  ListingResult listed = AssociationListing(failing).List();
  EXPECT_FALSE(listed.classesKeyOpened);
  EXPECT_EQ(failing.CallCount(), 1u);
}

TEST_P(Listing, EveryKeyOpenedIsClosed) {
  SeedAssociation(*registry, ".a", "A", "a %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".b", "", REG_SZ, "B");
  SeedKey(*registry, HKEY_CLASSES_ROOT, ".c");
  FailingRegistry failing(*registry);
  List(failing);
  std::size_t opened = 0;
  for (const auto& call : failing.log)
    if (call.op == RegOp::Open && call.code == 0) ++opened;
  EXPECT_EQ(opened, failing.CallCount(Ops(RegOp::Close)));
}

ZANDREL_FOR_EACH_REGISTRY(Listing);

}  // namespace
}  // namespace zandrel::testing
