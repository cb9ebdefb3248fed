// The editing dialog's CSV commands: reading a spreadsheet or contact
// export through the column dialog, and writing the rows on screen out.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

#include "core/encoding.h"
#include "dialogs_test_util.h"
#include "support/test_support.h"
#include "ui/dialogs/address_dialogs.h"
#include "ui/dialogs/address_list.h"
#include "ui/dialogs/csv_import_dialog.h"

namespace velkaro::ui::dialogs {
namespace {

using testing::AddressBook;
using testing::WhenModal;
using velkaro::testing::ReadBytes;
using velkaro::testing::TempDir;
using velkaro::testing::WriteBytes;

constexpr int kNotImported = 0;  // item 0 of a column's box
int ItemOf(int field) {
  return field + 1;
}
constexpr int kKana = 0, kName = 2, kTelephone = 4, kData1 = 6;

const std::vector<std::string> kBook = {
    "あ\tあべ\t阿部一郎\tabe@example.jp\t03-1111-0000\t大阪府\tA\t\t\t",
    "お\tおの\t小野次郎\tono@example.jp\t\t東京都\t\t\t\t\"引用\"",
};

std::vector<std::string> Texts(const QListWidget* list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list->count(); ++i) texts.push_back(list->item(i)->text().toStdString());
  return texts;
}

class CsvTransferTest : public velkaro::testing::PlatformTest {
 protected:
  // Presses 「CSVから読み込み…」 with `path` as the chosen file; `act`
  // works the column dialog while the command waits in it.
  void Import(AddressEditDialog& dialog, const std::string& path,
              std::function<void(CsvImportDialog*)> act) {
    platform.QueueFileDialogAnswer({path});
    WhenModal([act](QDialog* d) {
      auto* mapping = dynamic_cast<CsvImportDialog*>(d);
      ASSERT_NE(mapping, nullptr);
      act(mapping);
    });
    dialog.ButtonOf(AddressEditDialog::ImportButton)->click();
  }
  void Export(AddressEditDialog& dialog, MsgAnswer encoding, const std::string& path) {
    platform.QueueAnswer(encoding);
    platform.QueueFileDialogAnswer({path});
    dialog.ButtonOf(AddressEditDialog::ExportButton)->click();
  }
  TempDir dir;
};

TEST_F(CsvTransferTest, ShiftJisSheetWithAColumnMovedToData1) {
  const std::string path = dir.File("名簿.csv");
  WriteBytes(path, Utf8ToSjis("氏名,メールアドレス,会社,よみ\r\n"
                              "田中一郎,tanaka@example.jp,山田商事,たなか\r\n"
                              "阿部一郎,ABE@example.jp,,あべ\r\n"
                              "鈴木,,鈴木商店,すずき\r\n"
                              "佐藤,sato@example.jp,佐藤工業,さとう\r\n"
                              "田中,Tanaka@example.jp,,\r\n"));
  AddressEditDialog dialog(nullptr, AddressBook(kBook));
  dialog.show();
  Import(dialog, path, [](CsvImportDialog* m) {
    EXPECT_EQ(m->EncodingLabel()->text(), QStringLiteral("文字コード: Shift_JIS　区切り: カンマ"));
    ASSERT_EQ(m->Columns()->rowCount(), 4);
    EXPECT_EQ(m->Columns()->item(2, 1)->text(), QStringLiteral("会社"));
    EXPECT_EQ(m->Columns()->item(2, 2)->text(), QStringLiteral("山田商事 / 鈴木商店 / 佐藤工業"));
    const int automatic[] = {ItemOf(kName), ItemOf(3), kNotImported, ItemOf(kKana)};
    for (int col = 0; col < 4; ++col) EXPECT_EQ(m->FieldBox(col)->currentIndex(), automatic[col]);
    EXPECT_EQ(m->CountLabel()->text(),
              QStringLiteral("追加するエントリ: 2 件（データ 5 行のうち）"));
    EXPECT_EQ(m->Current().entries[0].data1, "");

    m->FieldBox(2)->setCurrentIndex(ItemOf(kData1));
    EXPECT_EQ(m->Current().entries.at(0).data1, Sjis("山田商事"));
    EXPECT_EQ(Texts(m->Notes()), (std::vector<std::string>{
                                     "3 行目: 「ABE@example.jp」はアドレス帳に登録済みです",
                                     "4 行目: メールアドレスがありません",
                                     "6 行目: 「Tanaka@example.jp」は 2 行目と同じアドレスです",
                                 }));
    m->OkButton()->click();
  });
  const auto& entries = dialog.Model().Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].mailaddr, "abe@example.jp");  // the rows before stay as they were
  const struct {
    const char *kana, *name, *mail, *data1;
  } added[] = {{"たなか", "田中一郎", "tanaka@example.jp", "山田商事"},
               {"さとう", "佐藤", "sato@example.jp", "佐藤工業"}};
  for (int i = 0; i < 2; ++i) {
    const AddressEntry& e = entries[2 + i];
    EXPECT_EQ(e.kana, Sjis(added[i].kana));
    EXPECT_EQ(e.name, Sjis(added[i].name));
    EXPECT_EQ(e.regist, e.name);  // the sheet has no registered names
    EXPECT_EQ(e.mailaddr, added[i].mail);
    EXPECT_EQ(e.data1, Sjis(added[i].data1));
  }
  ASSERT_EQ(platform.FileDialogs().size(), 1u);
  EXPECT_EQ(platform.FileDialogs()[0].kind, FileDialogRequest::Open);
  EXPECT_TRUE(platform.MessageBoxes().empty());
  // Saved as every edit is: through 「保存・終了」.
  dialog.ButtonOf(AddressEditDialog::SaveButton)->click();
  EXPECT_EQ(EntriesOfAddressBook(dialog.Result()), entries);
}

TEST_F(CsvTransferTest, GoogleExportKeepsFamilyNameFirstWhenOtherColumnsChange) {
  const std::string path = dir.File("contacts.csv");
  // Given name before family name, as Google writes them; 𠮷 and 😀 have
  // no CP932 form.
  WriteBytes(path,
             "\xEF\xBB\xBF"
             "First Name,Last Name,Phonetic First Name,Phonetic Last Name,Organization Name,"
             "E-mail 1 - Label,E-mail 1 - Value,Phone 1 - Value\r\n"
             "太郎,山田,タロウ,ヤマダ,山田商事,* Home,yamada@example.com,090-0000-0001\r\n"
             "一,𠮷野,ハジメ,ヨシノ,,* Work,yoshino@example.com,\r\n"
             "花子,佐藤,ハナコ,サトウ,😀工房,,sato@example.com,\r\n");
  AddressEditDialog dialog(nullptr, "");
  Import(dialog, path, [](CsvImportDialog* m) {
    EXPECT_EQ(m->EncodingLabel()->text(),
              QStringLiteral("文字コード: UTF-8 (BOM付き)　区切り: カンマ"));
    m->FieldBox(4)->setCurrentIndex(ItemOf(kData1));           // Organization Name
    m->FieldBox(7)->setCurrentIndex(kNotImported);             // Phone 1 - Value
    EXPECT_EQ(m->FieldBox(0)->currentIndex(), ItemOf(kName));  // the boxes are the choice
    EXPECT_EQ(m->FieldBox(1)->currentIndex(), ItemOf(kName));
    EXPECT_EQ(m->CountLabel()->text(),
              QStringLiteral("追加するエントリ: 1 件（データ 3 行のうち）"));
    EXPECT_EQ(Texts(m->Notes()), (std::vector<std::string>{
                                     "3 行目: 氏名 に CP932 で表せない文字があります",
                                     "4 行目: Data-1 に CP932 で表せない文字があります",
                                 }));
    m->ImportAllBox()->setChecked(true);
    EXPECT_EQ(m->CountLabel()->text(),
              QStringLiteral("追加するエントリ: 3 件（データ 3 行のうち）"));
    EXPECT_EQ(Texts(m->Notes()),
              (std::vector<std::string>{"3 行目: 氏名 の CP932 で表せない文字を〓にしました",
                                        "4 行目: Data-1 の CP932 で表せない文字を〓にしました"}));
    m->OkButton()->click();
  });
  const auto& entries = dialog.Model().Entries();
  ASSERT_EQ(entries.size(), 3u);
  const struct {
    const char *kana, *name, *data1;
  } want[] = {{"ヤマダ タロウ", "山田 太郎", "山田商事"},
              {"ヨシノ ハジメ", "〓野 一", ""},
              {"サトウ ハナコ", "佐藤 花子", "〓工房"}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i].kana, Sjis(want[i].kana)) << i;
    EXPECT_EQ(entries[i].name, Sjis(want[i].name)) << i;
    EXPECT_EQ(entries[i].data1, Sjis(want[i].data1)) << i;
    EXPECT_EQ(entries[i].telephone, "") << i;
  }
}

TEST_F(CsvTransferTest, WithoutAnAddressColumnOkIsOff) {
  const std::string path = dir.File("a.csv");
  WriteBytes(path, "name,note\r\nA,a@example.jp\r\n");
  AddressEditDialog dialog(nullptr, "");
  Import(dialog, path, [](CsvImportDialog* m) {
    EXPECT_EQ(m->CountLabel()->text(), QStringLiteral("メールアドレスの列を選んでください。"));
    EXPECT_FALSE(m->OkButton()->isEnabled());
    m->FieldBox(1)->setCurrentIndex(ItemOf(3));
    EXPECT_TRUE(m->OkButton()->isEnabled());
    m->FieldBox(1)->setCurrentIndex(kNotImported);
    EXPECT_FALSE(m->OkButton()->isEnabled());
    m->reject();
  });
  EXPECT_TRUE(dialog.Model().Entries().empty());
}

TEST_F(CsvTransferTest, NothingIsImportedWhenCancelledOrUnreadable) {
  const struct {
    const char* what;
    bool chosen;        // false: the file dialog is cancelled
    std::string bytes;  // of the chosen file
    const char* message;
  } cases[] = {
      {"file dialog cancelled", false, "", nullptr},
      {"empty file", true, "", "CSVファイルが見つからないか、空です。"},
      {"UTF-16 text", true, "\xFF\xFEn\0a\0", "CSVファイルとして読み込めません。"},
      {"cancel in the column dialog", true, "name,email\r\nA,a@example.jp\r\n", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform.ClearRecords();
    const std::string path = dir.File("in.csv");
    WriteBytes(path, c.bytes);
    AddressEditDialog dialog(nullptr, AddressBook(kBook));
    const auto before = dialog.Model().Entries();
    platform.QueueFileDialogAnswer(c.chosen ? std::vector<std::string>{path}
                                            : std::vector<std::string>{});
    if (c.message == nullptr && c.chosen) {
      WhenModal([](QDialog* d) {
        auto* mapping = dynamic_cast<CsvImportDialog*>(d);
        ASSERT_NE(mapping, nullptr);
        EXPECT_TRUE(mapping->OkButton()->isEnabled());
        mapping->CancelButton()->click();
      });
    }
    dialog.ButtonOf(AddressEditDialog::ImportButton)->click();
    EXPECT_EQ(dialog.Model().Entries(), before);
    if (c.message == nullptr) {
      EXPECT_TRUE(platform.MessageBoxes().empty());
    } else {
      ASSERT_EQ(platform.MessageBoxes().size(), 1u);
      EXPECT_EQ(platform.MessageBoxes()[0].text.rfind(Sjis(c.message), 0), 0u);
    }
  }
}

TEST_F(CsvTransferTest, ExportThenImportGivesTheSameBook) {
  const struct {
    MsgAnswer answer;
    bool bom;
    const char* named;
  } cases[] = {{MsgAnswer::Yes, true, "UTF-8 (BOM付き)"}, {MsgAnswer::No, false, "Shift_JIS"}};
  std::vector<std::string> people = kBook;
  people.push_back("ｶﾅ\tかな\t\"仮名, 名\"\tkana@example.jp\t\t福岡県\t\t\t\t");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    platform.ClearRecords();
    const std::string path = dir.File(std::string("out-") + (c.bom ? "bom" : "sjis") + ".csv");
    AddressEditDialog source(nullptr, AddressBook(people));
    Export(source, c.answer, path);
    ASSERT_EQ(platform.MessageBoxes().size(), 2u);  // the encoding, then the count
    EXPECT_EQ(platform.MessageBoxes()[1].text,
              Sjis("3 件を ") + Utf8ToSjis(c.named) + Sjis(" で書き出しました。\r\n") + path);
    EXPECT_EQ(platform.FileDialogs().at(0).kind, FileDialogRequest::Save);
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0) == 0, c.bom);

    AddressEditDialog target(nullptr, "");
    Import(target, path, [](CsvImportDialog* m) {
      EXPECT_TRUE(m->Notes()->count() == 0) << Texts(m->Notes()).front();
      m->OkButton()->click();
    });
    EXPECT_EQ(target.Model().Entries(), source.Model().Entries());
  }
}

TEST_F(CsvTransferTest, ExportReportsWhatWentWrongAndCancelWritesNothing) {
  AddressEditDialog dialog(nullptr, AddressBook(kBook));
  Export(dialog, MsgAnswer::Yes, dir.File("no-such-folder/out.csv"));
  ASSERT_EQ(platform.MessageBoxes().size(), 2u);
  EXPECT_EQ(platform.MessageBoxes()[1].text,
            Sjis("CSVファイルを書き出せませんでした。\r\n") + dir.File("no-such-folder/out.csv"));
  EXPECT_EQ(platform.MessageBoxes()[1].icon, MsgIcon::Exclamation);

  platform.ClearRecords();
  Export(dialog, MsgAnswer::Cancel, dir.File("out.csv"));
  EXPECT_TRUE(platform.FileDialogs().empty());  // the question's Cancel ends it
  EXPECT_EQ(ReadBytes(dir.File("out.csv")), "");
}

}  // namespace
}  // namespace velkaro::ui::dialogs
