// The address book selection and editing dialogs, driven as a user would.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>
#include <QtTest/QTest>

#include "core/encoding.h"
#include "data/address_book.h"
#include "dialogs_test_util.h"
#include "support/test_support.h"
#include "ui/dialogs/address_dialogs.h"
#include "ui/dialogs/address_list.h"
#include "ui/dialogs/dialogs.h"

namespace velkaro::ui::dialogs {
namespace {

using testing::AddressBook;
using testing::ClickRow;
using testing::DoubleClickRow;
using testing::WhenModal;

// Ten people typed in no order; the readings sort them あ, い, う, … こ.
const std::vector<std::string> kPeople = {
    "お\tおの\t小野次郎\tono@example.jp\t03-1111-0004\t東京都\t\t\t\t",
    "あ\tあべ\t阿部一郎\tabe@example.jp\t03-1111-0000\t大阪府\tA\t\t\t",
    "け\tけん\t健太\tken@example.jp\t\t\t\t\t\t",
    "う\tうえだ\t上田花子\tueda@example.jp\t\t\t\t\t\t",
    "こ\tこう\t高幸子\tkou@example.jp\t\t\t\t\t\tD4",
    "い\tいとう\t伊藤守\tito@example.jp\t\t\t\t\t\t",
    "き\tきむら\t木村拓\tkimura@example.jp\t\t\t\t\t\t",
    "か\tかとう\t加藤茂\tkato@example.jp\t\t\t\t\t\t",
    "え\tえんどう\t遠藤葵\tendo@example.jp\t\t\t\t\t\t",
    "く\tくどう\t工藤静\tkudo@example.jp\t\t\t\t\t\t",
};
const char* const kSortedReadings[] = {"あ", "い", "う", "え", "お", "か", "き", "く", "け", "こ"};

std::string LineOf(const std::string& utf8) {
  return Utf8ToSjis(utf8) + "\r\n";
}

// The line of the person whose reading is `kana` in kPeople.
std::string PersonLine(const char* kana) {
  for (const std::string& p : kPeople) {
    if (p.rfind(std::string(kana) + "\t", 0) == 0) return LineOf(p);
  }
  ADD_FAILURE() << kana;
  return {};
}

class AddressDialogTest : public velkaro::testing::PlatformTest {};

// --- selection -------------------------------------------------------------

TEST_F(AddressDialogTest, SelectionOpensSortedByReadingWithEveryLine) {
  std::vector<std::string> lines(kPeople.rbegin(), kPeople.rend());
  lines.push_back("た\tたなか\t田中\t\t\t\t\t\t\t");  // no address: still offered
  lines.push_back("");                                // a blank line is an empty row
  AddressSelectDialog dialog(nullptr, AddressBook(lines));
  const auto& entries = dialog.Model().Entries();
  ASSERT_EQ(entries.size(), 12u);
  EXPECT_EQ(entries[0].kana, "");  // the blank line: an empty reading sorts first
  for (int i = 0; i < 10; ++i) EXPECT_EQ(entries[i + 1].kana, Sjis(kSortedReadings[i])) << i;
  EXPECT_EQ(entries[11].name, Sjis("田中"));
  EXPECT_EQ(dialog.List()->model()->headerData(3, Qt::Horizontal).toString(),
            QStringLiteral("メールアドレス"));
}

TEST_F(AddressDialogTest, CtrlSelectedRowsComeBackInListOrder) {
  AddressSelectDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  ClickRow(dialog.List(), 5);
  ClickRow(dialog.List(), 2, Qt::ControlModifier);
  ClickRow(dialog.List(), 7, Qt::ControlModifier);
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), PersonLine("う") + PersonLine("か") + PersonLine("く"));
}

TEST_F(AddressDialogTest, DoubleClickDoesNotEndTheSelection) {
  AddressSelectDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  DoubleClickRow(dialog.List(), 1);
  QApplication::processEvents();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.Result(), PersonLine("い"));
}

TEST_F(AddressDialogTest, SelectionEntryPointGivesTheLinesOrNothing) {
  const std::string book = AddressBook(kPeople);
  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<AddressSelectDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    ClickRow(dialog->List(), 0);
    dialog->OkButton()->click();
  });
  EXPECT_EQ(RunAddressSelectDialog(nullptr, book), PersonLine("あ"));

  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<AddressSelectDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    ClickRow(dialog->List(), 0);
    dialog->CancelButton()->click();
  });
  EXPECT_EQ(RunAddressSelectDialog(nullptr, book), std::nullopt);

  // An empty book: OK chooses nobody.
  WhenModal([](QDialog* d) { dynamic_cast<AddressSelectDialog*>(d)->OkButton()->click(); });
  EXPECT_EQ(RunAddressSelectDialog(nullptr, ""), std::string());
}

// --- editing ---------------------------------------------------------------

class AddressEditTest : public AddressDialogTest {
 protected:
  void Fill(AddressEditDialog& dialog, const std::vector<QString>& fields) {
    for (int k = 0; k < AddressEntry::kFieldCount; ++k) {
      dialog.Field(k)->setText(k < static_cast<int>(fields.size()) ? fields[k] : QString());
    }
  }
  void Press(AddressEditDialog& dialog, AddressEditDialog::Button which) {
    dialog.ButtonOf(which)->click();
  }
  static std::vector<std::string> Readings(const AddressEditDialog& dialog) {
    std::vector<std::string> r;
    for (const AddressEntry& e : dialog.Model().Entries()) r.push_back(SjisToUtf8(e.kana));
    return r;
  }
};

TEST_F(AddressEditTest, DropsEntriesWithoutNameOrAddressAndSorts) {
  AddressEditDialog dialog(nullptr, AddressBook({
                                        "う\tu\t上田\tueda@example.jp",  // four fields are enough
                                        "な\tn\t\tnoname@example.jp",
                                        "ま\tm\t前田\t",
                                        "",
                                        "あ\ta\t阿部\tabe@example.jp\t\t\t\t\t\t",
                                    }));
  EXPECT_EQ(Readings(dialog), (std::vector<std::string>{"あ", "う"}));
  for (int k = 0; k < AddressEntry::kFieldCount; ++k)
    EXPECT_TRUE(dialog.Field(k)->text().isEmpty());
}

TEST_F(AddressEditTest, AddedRowsGoToTheTopAndStayThere) {
  AddressEditDialog dialog(nullptr, AddressBook(kPeople));
  Fill(dialog, {"ん", "ん", "運野", "un@example.jp"});
  Press(dialog, AddressEditDialog::AddButton);
  Fill(dialog, {"を", "を", "尾野", "wo@example.jp"});
  Press(dialog, AddressEditDialog::AddButton);
  const std::vector<std::string> r = Readings(dialog);
  ASSERT_EQ(r.size(), 12u);
  EXPECT_EQ(r[0], "を");
  EXPECT_EQ(r[1], "ん");
  EXPECT_EQ(r[2], "あ");
  // The boxes keep what was added.
  EXPECT_EQ(dialog.Field(2)->text(), QStringLiteral("尾野"));

  // Without a name or an address nothing is added, and nothing is said.
  for (const std::vector<QString>& fields : {std::vector<QString>{"ぬ", "ぬ", "", "nu@example.jp"},
                                             std::vector<QString>{"ぬ", "ぬ", "布", ""}}) {
    Fill(dialog, fields);
    Press(dialog, AddressEditDialog::AddButton);
  }
  EXPECT_EQ(dialog.Model().Entries().size(), 12u);
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(AddressEditTest, RowButtonsWithoutAMarkedRowDoNothing) {
  AddressEditDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  const auto before = dialog.Model().Entries();
  Fill(dialog, {"x", "x", "x", "x@example.jp"});
  Press(dialog, AddressEditDialog::DeleteButton);
  Press(dialog, AddressEditDialog::UpdateButton);
  Fill(dialog, {});
  Press(dialog, AddressEditDialog::EditButton);
  EXPECT_EQ(dialog.Model().Entries(), before);
  EXPECT_TRUE(dialog.Field(0)->text().isEmpty());
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(AddressEditTest, DeleteTakesTheMarkedRowWithoutAQuestion) {
  AddressEditDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  ClickRow(dialog.List(), 1);
  Press(dialog, AddressEditDialog::DeleteButton);
  EXPECT_EQ(Readings(dialog).size(), 9u);
  EXPECT_EQ(Readings(dialog)[1], "う");
  EXPECT_TRUE(platform.MessageBoxes().empty());
  // The mark went with the row: a second press deletes nothing.
  Press(dialog, AddressEditDialog::DeleteButton);
  EXPECT_EQ(Readings(dialog).size(), 9u);
}

TEST_F(AddressEditTest, EditAndUpdateWorkOnTheMarkedRow) {
  AddressEditDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  DoubleClickRow(dialog.List(), 0);  // a double click is "↑編集"
  EXPECT_EQ(dialog.Field(2)->text(), QStringLiteral("阿部一郎"));
  EXPECT_EQ(dialog.Field(5)->text(), QStringLiteral("大阪府"));
  EXPECT_EQ(dialog.Field(6)->text(), QStringLiteral("A"));

  dialog.Field(4)->setText(QString());  // empty fields are written too
  dialog.Field(2)->setText(QStringLiteral("阿部一朗"));
  Press(dialog, AddressEditDialog::UpdateButton);
  const AddressEntry& e = dialog.Model().Entry(0);
  EXPECT_EQ(e.name, Sjis("阿部一朗"));
  EXPECT_EQ(e.telephone, "");
  EXPECT_EQ(e.realaddr, Sjis("大阪府"));
}

TEST_F(AddressEditTest, AddingAtTheTopKeepsTheMarkOnTheSamePerson) {
  AddressEditDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  ClickRow(dialog.List(), 1);  // い
  Fill(dialog, {"ん", "ん", "運野", "un@example.jp"});
  Press(dialog, AddressEditDialog::AddButton);
  // The rows moved down by one; "↓更新" must still change い, not あ.
  Fill(dialog, {"い", "いとう", "伊藤守", "ito@example.org"});
  Press(dialog, AddressEditDialog::UpdateButton);
  EXPECT_EQ(dialog.Model().Entry(1).mailaddr, "abe@example.jp");
  EXPECT_EQ(dialog.Model().Entry(2).mailaddr, "ito@example.org");
}

TEST_F(AddressEditTest, SaveWritesTheHeaderAndEveryRowInListOrder) {
  AddressEditDialog dialog(nullptr, AddressBook({kPeople[1], kPeople[0]}));
  Fill(dialog, {"ん", "ん", "運野", "un@example.jp", "", "", "", "", "", "d4"});
  Press(dialog, AddressEditDialog::AddButton);
  Press(dialog, AddressEditDialog::SaveButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), AddressBookHeaderLine() +
                                 LineOf("ん\tん\t運野\tun@example.jp\t\t\t\t\t\td4") +
                                 PersonLine("あ") + PersonLine("お"));
}

TEST_F(AddressEditTest, SavingAnEmptyListWritesOnlyTheHeader) {
  AddressEditDialog dialog(nullptr, "");
  Press(dialog, AddressEditDialog::SaveButton);
  EXPECT_EQ(dialog.Result(), AddressBookHeaderLine());
}

TEST_F(AddressEditTest, RowsEmptiedByUpdateVanishOnTheNextOpening) {
  AddressEditDialog first(nullptr, AddressBook({kPeople[1], kPeople[0]}));
  first.show();
  QApplication::processEvents();
  ClickRow(first.List(), 0);
  Press(first, AddressEditDialog::EditButton);
  first.Field(3)->clear();
  Press(first, AddressEditDialog::UpdateButton);
  Press(first, AddressEditDialog::SaveButton);
  // Saved with the empty address …
  EXPECT_EQ(first.Result(), AddressBookHeaderLine() +
                                LineOf("あ\tあべ\t阿部一郎\t\t03-1111-0000\t大阪府\tA\t\t\t") +
                                PersonLine("お"));
  // … and gone the next time.
  AddressEditDialog second(nullptr, first.Result());
  EXPECT_EQ(Readings(second), (std::vector<std::string>{"お"}));
}

TEST_F(AddressEditTest, CancelAndCloseDiscardEveryChange) {
  const std::string book = AddressBook(kPeople);
  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<AddressEditDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    ClickRow(dialog->List(), 0);
    dialog->ButtonOf(AddressEditDialog::DeleteButton)->click();
    dialog->ButtonOf(AddressEditDialog::CancelButton)->click();
  });
  EXPECT_EQ(RunAddressEditDialog(nullptr, book), std::nullopt);

  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<AddressEditDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    ClickRow(dialog->List(), 0);
    dialog->ButtonOf(AddressEditDialog::DeleteButton)->click();
    dialog->close();
  });
  EXPECT_EQ(RunAddressEditDialog(nullptr, book), std::nullopt);

  WhenModal([](QDialog* d) {
    dynamic_cast<AddressEditDialog*>(d)->ButtonOf(AddressEditDialog::SaveButton)->click();
  });
  const std::optional<std::string> saved = RunAddressEditDialog(nullptr, book);
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(EntriesOfAddressBook(*saved).size(), kPeople.size());
}

TEST_F(AddressEditTest, TabsAndLineBreaksBecomeSpaces) {
  AddressEditDialog dialog(nullptr, "");
  const struct {
    QString typed, shown;
  } cases[] = {
      {QStringLiteral("山田\t太郎"), QStringLiteral("山田 太郎")},
      {QStringLiteral("一行目\n二行目\r\n"), QStringLiteral("一行目 二行目  ")},
      {QStringLiteral("a\u2028b"), QStringLiteral("a b")},
  };
  for (const auto& c : cases) {
    dialog.Field(5)->clear();
    dialog.Field(5)->insert(c.typed);  // as a paste arrives
    EXPECT_EQ(dialog.Field(5)->text(), c.shown) << c.typed.toStdString();
  }
  Fill(dialog, {"や", "や", "山田", "y@example.jp"});
  dialog.Field(5)->insert(QStringLiteral("東京都\t千代田区"));
  Press(dialog, AddressEditDialog::AddButton);
  EXPECT_EQ(FormatEntryLine(dialog.Model().Entry(0)),
            LineOf("や\tや\t山田\ty@example.jp\t\t東京都 千代田区\t\t\t\t"));
}

TEST_F(AddressEditTest, EditBoxesStopAt255Characters) {
  AddressEditDialog dialog(nullptr, "");
  QLineEdit* box = dialog.Field(2);
  box->insert(QString(255, QChar(u'あ')));
  EXPECT_EQ(box->text().size(), 255);
  QTest::keyClicks(box, QStringLiteral("x"));
  box->insert(QStringLiteral("y"));
  EXPECT_EQ(box->text(), QString(255, QChar(u'あ')));
  // A character the address book file cannot hold is not taken either.
  box->clear();
  box->insert(QStringLiteral("a😀b"));
  EXPECT_TRUE(box->text().isEmpty()) << box->text().toStdString();
}

TEST_F(AddressEditTest, OverLongFieldFromTheFileIsReportedWhenTaken) {
  const std::string longAddress(300, 'z');
  AddressEditDialog dialog(nullptr,
                           AddressBook({"あ\tあ\t阿部\tabe@example.jp\t\t" + longAddress}));
  dialog.show();
  QApplication::processEvents();
  ClickRow(dialog.List(), 0);
  Press(dialog, AddressEditDialog::EditButton);
  EXPECT_EQ(dialog.Field(5)->text().size(), 300);  // shown whole, never cut silently
  dialog.Field(2)->setText(QStringLiteral("阿部二郎"));
  Press(dialog, AddressEditDialog::UpdateButton);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  EXPECT_EQ(platform.MessageBoxes()[0].text, Sjis("255 文字以内で入力してください。"));
  EXPECT_EQ(dialog.Model().Entry(0).name, Sjis("阿部"));  // not updated
  EXPECT_EQ(dialog.Model().Entry(0).realaddr, longAddress);
}

TEST_F(AddressEditTest, EnterInAnEditBoxNeitherSavesNorCloses) {
  AddressEditDialog dialog(nullptr, AddressBook(kPeople));
  dialog.show();
  QApplication::processEvents();
  for (int k : {1, 3, 9}) {
    dialog.Field(k)->setFocus();
    QTest::keyClick(dialog.Field(k), Qt::Key_Return);
    QTest::keyClick(dialog.Field(k), Qt::Key_Enter);
  }
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  EXPECT_TRUE(dialog.Result().empty());
}

// --- both ---------------------------------------------------------------

TEST_F(AddressDialogTest, OpenBelowTheMainWindow) {
  QMainWindow main;
  main.setGeometry(40, 30, 300, 200);
  main.show();
  QApplication::processEvents();
  const QPoint expected = main.frameGeometry().topLeft() + QPoint(0, 48);
  AddressSelectDialog select(&main, AddressBook(kPeople));
  select.show();
  EXPECT_EQ(select.frameGeometry().topLeft(), expected);
  select.close();
  AddressEditDialog edit(&main, AddressBook(kPeople));
  edit.show();
  EXPECT_EQ(edit.frameGeometry().topLeft(), expected);
}

template <typename Dialog>
void CheckResizing(Dialog& dialog) {
  dialog.show();
  QApplication::processEvents();
  const QSize base = dialog.size();
  const QRect list = dialog.List()->geometry();
  const struct {
    int dW, dH;  // drag from the opening size
    int listW, listH;
  } cases[] = {
      {-60, -40, 0, 0},  // inwards: back to the opening size
      {40, 0, 40, 0},   {0, 25, 0, 25},
      {40, 25, 40, 25}, {-10, 30, 0, 30},  // only the outward part counts
  };
  for (const auto& c : cases) {
    dialog.resize(base + QSize(c.dW, c.dH));
    QApplication::processEvents();
    EXPECT_EQ(dialog.size(), base + QSize(std::max(0, c.dW), std::max(0, c.dH)))
        << c.dW << "," << c.dH;
    EXPECT_EQ(dialog.List()->geometry(),
              QRect(list.topLeft(), list.size() + QSize(c.listW, c.listH)))
        << c.dW << "," << c.dH;
  }
}

TEST_F(AddressDialogTest, ListsFollowTheWindowWhichNeverShrinksBelowItsOpeningSize) {
  AddressSelectDialog select(nullptr, AddressBook(kPeople));
  CheckResizing(select);
  AddressEditDialog edit(nullptr, AddressBook(kPeople));
  CheckResizing(edit);
  // Nothing else moves in the editing dialog.
  EXPECT_EQ(edit.ButtonOf(AddressEditDialog::SaveButton)->geometry().topLeft(),
            Units().Rect(232, 108, 50, 14).topLeft());
}

}  // namespace
}  // namespace velkaro::ui::dialogs
