// Address book import from and export to CSV: encodings, header names of
// hand-made sheets and of contact exports, the rows left out and why, and
// the round trip through a spreadsheet file.
#include "data/address_import.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/encoding.h"

namespace velkaro {
namespace {

std::string S(const char* utf8) {
  return Utf8ToSjis(utf8);
}

std::string Lines(const std::vector<ImportNote>& notes) {
  std::string text;
  for (const ImportNote& note : notes) text += std::to_string(note.line) + ":" + note.reason + "\n";
  return text;
}

ImportResult Import(const std::string& csv, const std::string& book = "",
                    ImportOptions options = {}) {
  return ImportAddresses(csv, book, options);
}

struct EncodingCase {
  const char* name;
  std::string bytes;
  TextEncoding want;
};

const std::string kSheet = "氏名,メールアドレス\r\n山田 太郎,yamada@example.jp\r\n";

const EncodingCase kEncodingCases[] = {
    {"utf8_with_bom", "\xEF\xBB\xBF" + kSheet, TextEncoding::Utf8Bom},
    {"utf8_without_bom", kSheet, TextEncoding::Utf8},
    {"cp932", Utf8ToSjis(kSheet), TextEncoding::ShiftJis},
};

class ImportEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(ImportEncoding, IsDetectedAndGivesShiftJisFields) {
  const ImportResult r = Import(GetParam().bytes);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.encoding, GetParam().want);
  EXPECT_EQ(r.headers, (std::vector<std::string>{"氏名", "メールアドレス"}));
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].name, S("山田 太郎"));
  EXPECT_EQ(r.entries[0].mailaddr, "yamada@example.jp");
}

INSTANTIATE_TEST_SUITE_P(Files, ImportEncoding, ::testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct HeaderCase {
  const char* name;
  std::string csv;  // UTF-8
  ImportOptions options;
  AddressEntry want;  // fields as UTF-8
};

AddressEntry Want(std::vector<std::string> fields) {
  AddressEntry entry;
  for (int k = 0; k < static_cast<int>(fields.size()); ++k) entry[k] = fields[k];
  return entry;
}

const HeaderCase kHeaderCases[] = {
    {"japanese_sheet",
     "フリガナ,登録名,名前,E-mail,TEL,住所,データ１,データ2\r\n"
     "やまだ,山田,山田 太郎,y@example.jp,03-1111,東京都,会員,A\r\n",
     {},
     Want({"やまだ", "山田", "山田 太郎", "y@example.jp", "03-1111", "東京都", "会員", "A"})},
    {"google_contacts_export",
     "First Name,Middle Name,Last Name,Phonetic First Name,Phonetic Middle Name,"
     "Phonetic Last Name,Nickname,E-mail 1 - Label,E-mail 1 - Value,Phone 1 - Label,"
     "Phone 1 - Value,Address 1 - Formatted\r\n"
     "太郎,,山田,たろう,,やまだ,,* Home,y@example.jp,Mobile,090-1,\"東京都\n千代田区\"\r\n",
     {},
     Want({"やまだ たろう", "山田 太郎", "山田 太郎", "y@example.jp", "090-1", "東京都 千代田区"})},
    {"outlook_export",
     "Title,First Name,Middle Name,Last Name,Suffix,Given Yomi,Surname Yomi,"
     "E-mail Address,E-mail 2 Address,Home Phone,Mobile Phone,Home Street\r\n"
     ",Hanako,,Suzuki,,はなこ,すずき,s@example.jp,s2@example.jp,06-1,090-2,Osaka\r\n",
     {},
     Want({"すずき はなこ", "Suzuki Hanako", "Suzuki Hanako", "s@example.jp", "06-1", "Osaka"})},
    {"whole_name_column_wins_over_parts",
     "Name,Given Name,Family Name,E-mail 1 - Value\r\nTaro Y,Taro,Y,t@example.jp\r\n",
     {},
     Want({"", "Taro Y", "Taro Y", "t@example.jp"})},
    {"map_by_number_and_name_corrects_and_drops",
     "Name,Mail,Memo,Tel\r\nTaro,t@example.jp,note,03\r\n",
     {{{"2", "mailaddr"}, {"memo", "data3"}, {"TEL", "-"}}, false},
     Want({"", "Taro", "Taro", "t@example.jp", "", "", "", "", "note"})},
    {"explicit_map_replaces_the_automatic_column",
     "Name,Nick,E-mail\r\nTaro Yamada,taro,t@example.jp\r\n",
     {{{"Nick", "name"}}, false},
     Want({"", "taro", "taro", "t@example.jp"})},
    {"cells_lose_tab_and_line_breaks",
     "name\temail\tdata1\r\n\"a\tb\"\tx@example.jp\t\"1\r\n2\n3\"\r\n",
     {},
     Want({"", "a b", "a b", "x@example.jp", "", "", "1 2 3"})},
    {"missing_name_taken_from_the_address",
     "email;tel\r\n x@example.jp ;03\r\n",
     {},
     Want({"", "x@example.jp", "x@example.jp", "x@example.jp", "03"})},
};

class ImportHeaders : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ImportHeaders, MapColumnsToFields) {
  const HeaderCase& c = GetParam();
  const ImportResult r = Import(c.csv, "", c.options);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.entries.size(), 1u) << Lines(r.refused);
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) {
    EXPECT_EQ(SjisToUtf8(r.entries[0][k]), c.want[k]) << AddressFieldNames()[k];
  }
}

INSTANTIATE_TEST_SUITE_P(Mapping, ImportHeaders, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
  const char* name;
  std::string csv;
  ImportOptions options;
  std::string wantStart;
};

const ErrorCase kErrorCases[] = {
    {"empty_file", "", {}, "no header row"},
    {"utf16_unicode_text", std::string("\xFF\xFEn\0a\0m\0e\0", 10), {}, "UTF-16 text"},
    {"blank_header", "\r\nx@example.jp\r\n", {}, "no header row"},
    {"no_address_column", "氏名,電話\r\na,1\r\n", {}, "no column holds the mail address"},
    {"address_column_dropped", "email\r\na@b\r\n", {{{"email", "-"}}, false}, "no column holds"},
    {"unknown_column", "email\r\n", {{{"fax", "data1"}}, false}, "--map: no column 'fax'"},
    {"column_number_out_of_range", "email\r\n", {{{"2", "data1"}}, false}, "--map: no column '2'"},
    {"unknown_field", "email,x\r\n", {{{"x", "memo"}}, false}, "--map: 'memo' is no field"},
};

class ImportErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ImportErrors, StopBeforeAnyRow) {
  const ImportResult r = Import(GetParam().csv, "", GetParam().options);
  EXPECT_EQ(r.error.rfind(GetParam().wantStart, 0), 0u) << r.error;
  EXPECT_TRUE(r.entries.empty());
}

INSTANTIATE_TEST_SUITE_P(Header, ImportErrors, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AddressCheck, TakesOnlyWhatCanBeSentTo) {
  const std::string tooLong = std::string(251, 'a') + "@b.jp";
  for (const std::string good : {"a@b", "taro.yamada+news@example.co.jp", "\"x\"@example.jp"}) {
    EXPECT_TRUE(IsUsableAddress(good)) << good;
  }
  for (const std::string& bad :
       std::vector<std::string>{"", "example.jp", "@example.jp", "a@", "a@b@c", "a b@example.jp",
                                "a@example.jp\r", "a\t@b", tooLong}) {
    EXPECT_FALSE(IsUsableAddress(bad)) << bad;
  }
}

// Line numbers are those of the file, header included and quoted line
// breaks counted, so that the user finds the row in an editor.
TEST(ImportRefusals, NameTheLineAndTheReason) {
  const std::string book = AppendEntries("", {Want({"", "", "Old", "Old@Example.jp"})});
  const std::string csv =
      "name,email,address\r\n"
      "A,a@example.jp,\"two\r\nlines\"\r\n"  // lines 2-3: taken
      "B,,\r\n"                              // 4
      "\r\n"                                 // 5: blank, not counted
      "C,c at example.jp,\r\n"               // 6
      "D,old@example.JP,\r\n"                // 7
      "E,A@EXAMPLE.JP,\r\n"                  // 8
      "F,f@example.jp,髙橋 😀\r\n"            // 9: 髙 is CP932, 😀 is not
      "G,g😀@example.jp,\r\n"                 // 10
      "H,h@example.jp,";                     // 11, no final line end
  const ImportResult r = Import(csv, book);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(Lines(r.refused),
            "4:no mail address\n"
            "6:no usable mail address: 'c at example.jp'\n"
            "7:'old@example.JP' is already in the address book\n"
            "8:'A@EXAMPLE.JP' is already on line 2\n"
            "9:characters with no Shift_JIS form in realaddr (--import-all takes them as 〓)\n"
            "10:mail address 'g〓@example.jp' has characters with no Shift_JIS form\n");
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.entries[0].realaddr, "two lines");
  EXPECT_EQ(r.entries[1].mailaddr, "h@example.jp");
  EXPECT_EQ(r.rows, 8);
}

TEST(ImportRefusals, ImportAllTakesUnmappableAsGetaButNeverDuplicates) {
  const std::string csv = "name,email\r\n髙橋 😀,t@example.jp\r\nX,T@example.jp\r\n";
  const ImportResult r = Import(csv, "", {{}, true});
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].name, S("髙橋 〓"));
  EXPECT_EQ(Lines(r.replaced), "2:characters with no Shift_JIS form in name written as 〓\n");
  EXPECT_EQ(Lines(r.refused), "3:'T@example.jp' is already on line 2\n");
}

TEST(AppendEntries, KeepsTheBookAndEndsAnUnfinishedLine) {
  const AddressEntry entry = Want({"k", "r", "n", "a@b"});
  const std::string line = "k\tr\tn\ta@b\t\t\t\t\t\t\r\n";
  EXPECT_EQ(AppendEntries("", {entry}), AddressBookHeaderLine() + line);
  EXPECT_EQ(AppendEntries("H\r\nx\r\n", {entry}), "H\r\nx\r\n" + line);
  EXPECT_EQ(AppendEntries("H\r\ncut", {entry}), "H\r\ncut\r\n" + line);
}

TEST(Export, WritesAHeaderRowAndQuotesWhereNeeded) {
  const std::string book = AppendEntries(
      "", {Want({S("やまだ"), S("山田"), S("山田, 太郎"), "y@example.jp", "", S("\"本社\"")}),
           AddressEntry{}});
  const std::string header =
      "kana,regist,name,mailaddr,telephone,realaddr,data1,data2,data3,data4\r\n";
  const std::string row = "やまだ,山田,\"山田, 太郎\",y@example.jp,,\"\"\"本社\"\"\",,,,\r\n";
  int rows = 0;
  EXPECT_EQ(ExportAddresses(book, ExportEncoding::Utf8Bom, &rows), "\xEF\xBB\xBF" + header + row);
  EXPECT_EQ(rows, 1);  // the blank line is no entry
  EXPECT_EQ(ExportAddresses(book, ExportEncoding::ShiftJis), header + Utf8ToSjis(row));
}

TEST(Export, ReadBackByTheImportGivesTheSameBook) {
  const std::vector<AddressEntry> entries = {
      Want({S("やまだ"), S("山田"), S("山田 太郎"), "yamada@example.jp", "03-1234-5678",
            S("東京都千代田区1-2, 3F \"本館\""), S("会員"), "", "", "x"}),
      Want({S("ﾀﾅｶ"), "", S("田中 ①"), "tanaka@example.jp", "", "", "", S("表示"), S("ソ"), ""}),
      Want({"", S("髙橋"), S("髙橋"), "taka@example.jp", " ", "", "", "", "", "  x  "}),
  };
  const std::string book = AppendEntries("", entries);
  for (ExportEncoding encoding : {ExportEncoding::Utf8Bom, ExportEncoding::ShiftJis}) {
    const ImportResult r = Import(ExportAddresses(book, encoding));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(Lines(r.refused) + Lines(r.replaced), "");
    EXPECT_EQ(AppendEntries("", r.entries), book);
  }
}

}  // namespace
}  // namespace velkaro
