// velkaro-send --import-addresses / --export-addresses: the options and
// what they do to the address book file.
#include "cli/address_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/encoding.h"
#include "data/address_book.h"
#include "support/test_support.h"

namespace velkaro::cli {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  std::string wantError;  // empty: accepted
};

const OptionCase kOptionCases[] = {
    {"import_with_maps",
     {"--import-addresses", "a.csv", "--map", "Mail=mailaddr", "--map=3=-"},
     ""},
    {"import_dry_run_all", {"--import-addresses=a.csv", "--dry-run", "--import-all"}, ""},
    {"export_shift_jis", {"--export-addresses", "b.csv", "--encoding", "shift_jis"}, ""},
    {"map_without_import", {"--map", "a=name", "--to", "x"}, "--map and --import-all go with"},
    {"encoding_without_export",
     {"--import-addresses", "a", "--encoding", "utf-8"},
     "--encoding goes"},
    {"unknown_encoding", {"--export-addresses", "b", "--encoding", "latin1"}, "--encoding takes"},
    {"map_without_field",
     {"--import-addresses", "a", "--map", "Mail="},
     "--map needs COLUMN=FIELD"},
    {"both_directions", {"--import-addresses", "a", "--export-addresses", "b"}, "give --import"},
    {"with_a_send", {"--import-addresses", "a", "--to", "x"}, "--import-addresses and"},
    {"export_dry_run", {"--export-addresses", "b", "--dry-run"}, "--dry-run goes with"},
    {"empty_file_name", {"--export-addresses", ""}, "--export-addresses needs a file name"},
};

class AddressOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(AddressOptions, AreCheckedTogether) {
  const ParseResult r = ParseCommandLine(GetParam().args);
  if (GetParam().wantError.empty()) {
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.options.WantsAddressTransfer());
    EXPECT_FALSE(r.options.WantsRun());  // --dry-run here is the import's
  } else {
    EXPECT_EQ(r.error.rfind(GetParam().wantError, 0), 0u) << r.error;
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, AddressOptions, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AddressOptions, KeepMapsInOrder) {
  const ParseResult r =
      ParseCommandLine({"--import-addresses", "a.csv", "--map", "E=mail=mailaddr", "--map", "2=-"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.maps,
            (std::vector<std::pair<std::string, std::string>>{{"E=mail", "mailaddr"}, {"2", "-"}}));
}

class AddressTransfer : public ::testing::Test {
 protected:
  CliOptions Import(const std::string& csv) {
    WriteBytes(dir.File("in.csv"), csv);
    CliOptions options;
    options.importAddresses = dir.File("in.csv");
    return options;
  }
  TempDir dir;
  std::string book = dir.File("VelkaroAddress.txt");
  const std::string existing = AddressBookHeaderLine() + "\t\tOld\told@example.jp\t\t\t\t\t\t\r\n";
};

TEST_F(AddressTransfer, DryRunShowsTheRowsAndLeavesTheBook) {
  WriteBytes(book, existing);
  CliOptions options = Import("name,email\nNew,new@example.jp\nOld,OLD@example.jp\nX,住所\n");
  options.dryRun = true;
  const TransferOutcome o = ImportAddressFile(options, book);
  EXPECT_EQ(o.exitStatus, 0);
  EXPECT_EQ(o.out, "\tNew\tNew\tnew@example.jp\t\t\t\t\t\t\n");
  EXPECT_NE(o.err.find("UTF-8, separated by comma"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("in.csv:3: left out: 'OLD@example.jp' is already in the address book"),
            std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find("in.csv:4: left out: no usable mail address: '住所'"), std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find("would import 1 of 3 row(s)"), std::string::npos) << o.err;
  EXPECT_EQ(ReadBytes(book), existing);
}

TEST_F(AddressTransfer, ImportAppendsAfterTheExistingEntries) {
  WriteBytes(book, existing);
  const TransferOutcome o = ImportAddressFile(Import("name,email\nNew,new@example.jp\n"), book);
  EXPECT_EQ(o.exitStatus, 0) << o.err;
  EXPECT_EQ(ReadBytes(book), existing + "\tNew\tNew\tnew@example.jp\t\t\t\t\t\t\r\n");
}

TEST_F(AddressTransfer, UnwritableBookIsAFailure) {
  const std::string missingFolder = dir.File("no/such/VelkaroAddress.txt");
  const TransferOutcome o =
      ImportAddressFile(Import("name,email\nNew,new@example.jp\n"), missingFolder);
  EXPECT_EQ(o.exitStatus, kExitSettingsWrite);
  EXPECT_NE(o.err.find("could not write the address book"), std::string::npos) << o.err;
}

// The book is loaded with its unmappable characters as 〓: saving it back
// would lose them for good.
TEST_F(AddressTransfer, BookWithCharactersShiftJisCannotHoldIsNotRewritten) {
  const std::string utf8Book = "読み\tx\n\t\t名 😀\tu@example.jp\n";
  WriteBytes(book, utf8Book);
  const TransferOutcome o = ImportAddressFile(Import("name,email\nNew,new@example.jp\n"), book);
  EXPECT_EQ(o.exitStatus, kExitUsage);
  EXPECT_EQ(ReadBytes(book), utf8Book);
}

TEST_F(AddressTransfer, ExportReadsBackIntoTheSameBook) {
  const std::string full = existing + Utf8ToSjis(
                                          "やまだ\t山田\t山田, 太郎\ty@example.jp\t\t"
                                          "\"本社\"\t\t\t\t\r\n");
  WriteBytes(book, full);
  for (const char* encoding : {"utf-8", "shift_jis"}) {
    CliOptions out;
    out.exportAddresses = dir.File("out.csv");
    out.encoding = encoding;
    const TransferOutcome e = ExportAddressFile(out, book);
    ASSERT_EQ(e.exitStatus, 0) << e.err;
    const std::string fresh = dir.File(std::string("fresh-") + encoding);
    CliOptions in;
    in.importAddresses = out.exportAddresses;
    const TransferOutcome i = ImportAddressFile(in, fresh);
    ASSERT_EQ(i.exitStatus, 0) << i.err;
    EXPECT_EQ(ReadBytes(fresh), full) << encoding;
  }
}

}  // namespace
}  // namespace velkaro::cli
