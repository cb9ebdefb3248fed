// The files a new program folder gets on the first start.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/address_book.h"
#include "job/default_sounds.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

TEST(EnsureAddressBook, WritesOnlyWhereNoFileIs) {
  struct Case {
    const char* what;
    const char* existing;  // nullptr: no file
    const char* expected;  // nullptr: the empty book's header line
  };
  const Case cases[] = {
      {"new folder", nullptr, nullptr},
      {"the user's book is kept", "1\tyamada\n", "1\tyamada\n"},
      {"an empty file is the user's too", "", ""},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    const std::string book = dir.File("VelkaroAddress.txt");
    if (c.existing) testing::WriteBytes(book, c.existing);
    EXPECT_EQ(EnsureAddressBook(book), 0) << c.what;
    EXPECT_EQ(testing::ReadBytes(book), c.expected ? c.expected : AddressBookHeaderLine())
        << c.what;
  }
}

TEST(EnsureAddressBook, TheNewBookReadsAsEmptyAndAFailureIsReported) {
  testing::TempDir dir;
  const std::string book = dir.File("VelkaroAddress.txt");
  ASSERT_EQ(EnsureAddressBook(book), 0);
  AddressEntry entry;
  EXPECT_EQ(ParseEntryLine(LoadAddressBook(book), 1, entry), 1) << "no entry line";
  EXPECT_NE(EnsureAddressBook(dir.File("no/such/folder/VelkaroAddress.txt")), 0);
}

}  // namespace
}  // namespace velkaro
