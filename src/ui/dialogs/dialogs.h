// The program's modal dialogs, as the main window's commands call them.
// Each is created for one use, runs modally over `parent` and is destroyed
// when it ends.
#pragma once

#include <QString>
#include <optional>
#include <string>

class QWidget;

namespace velkaro {
class Settings;
class SendJob;
}  // namespace velkaro

namespace velkaro::ui {

// Address book selection "アドレス帳": the chosen entry lines (each ended by
// CR LF, in list order), or nothing when cancelled.
std::optional<std::string> RunAddressSelectDialog(QWidget* parent, const std::string& addressBook);

// Address book editing "アドレス帳の編集画面": the new address book text
// (header line and one line per row), or nothing when cancelled.
std::optional<std::string> RunAddressEditDialog(QWidget* parent, const std::string& addressBook);

// Settings sheet "環境設定" (pages "全体", "サウンド" and "メール"); edits
// `settings.record` and `settings.ini` and returns true on OK. The caller
// writes both files.
bool RunSettingsSheet(QWidget* parent, Settings& settings);

// Server dialog "メールサーバと差出人情報の設定": edits `settings.record`
// and `settings.ini` and returns true on OK (the caller writes both files).
// A new SMTP password is kept in the secret store (or, if the user agrees,
// in the ini) before it returns.
bool RunServerDialog(QWidget* parent, Settings& settings);

// Preview "差替え後の本文表示" of the job's body for each recipient;
// `warning`, when not empty, is shown above the body (what the send
// would refuse).
void RunPreviewDialog(QWidget* parent, const SendJob& job, const Settings& settings,
                      const QString& warning = {});

// What the test send dialog was answered with.
struct TestSendRequest {
  std::string address;  // Shift_JIS (an address is ASCII)
  int index = 0;        // recipient line, 0-based
};

// Test send "テスト送信" for the job's recipient lines (at least one),
// offering `address` and recipient line `index`; nothing when cancelled.
std::optional<TestSendRequest> RunTestSendDialog(QWidget* parent, const std::string& recipientLines,
                                                 const std::string& address, int index);

// "個別の添付ファイルを追加": the path pattern typed (UTF-8), starting in
// `folder`; nothing when cancelled.
std::optional<std::string> RunPersonalAttachmentDialog(QWidget* parent, const std::string& folder);

// Version information.
void RunVersionDialog(QWidget* parent);

}  // namespace velkaro::ui
