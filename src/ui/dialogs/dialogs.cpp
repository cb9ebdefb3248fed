// The entry points the main window's commands call: each dialog is made for
// one use, runs modally and is gone when it returns.
#include "ui/dialogs/dialogs.h"

#include "data/settings_file.h"
#include "job/send_job.h"
#include "platform/platform.h"
#include "ui/dialogs/address_dialogs.h"
#include "ui/dialogs/personal_attachment_dialog.h"
#include "ui/dialogs/preview_dialog.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/dialogs/test_send_dialog.h"
#include "ui/dialogs/version_dialog.h"

namespace velkaro::ui {

std::optional<std::string> RunAddressSelectDialog(QWidget* parent, const std::string& addressBook) {
  dialogs::AddressSelectDialog dialog(parent, addressBook);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}

std::optional<std::string> RunAddressEditDialog(QWidget* parent, const std::string& addressBook) {
  dialogs::AddressEditDialog dialog(parent, addressBook);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}

bool RunSettingsSheet(QWidget* parent, Settings& settings) {
  dialogs::SettingsSheet sheet(parent, settings.record, settings.GetProgramFolder(), &settings.ini);
  if (sheet.exec() != QDialog::Accepted) return false;
  sheet.TakeBack(settings.record);
  sheet.TakeBackMail(settings.ini);
  return true;
}

bool RunServerDialog(QWidget* parent, Settings& settings) {
  dialogs::ServerDialog dialog(parent, settings);
  return dialog.exec() == QDialog::Accepted;
}

void RunPreviewDialog(QWidget* parent, const SendJob& job, const Settings& settings,
                      const QString& warning) {
  dialogs::PreviewDialog dialog(parent, job, settings);
  dialog.SetWarning(warning);
  dialog.exec();
}

std::optional<TestSendRequest> RunTestSendDialog(QWidget* parent, const std::string& recipientLines,
                                                 const std::string& address, int index) {
  dialogs::TestSendDialog dialog(parent, recipientLines, address, index);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return TestSendRequest{.address = dialog.Address(), .index = dialog.Index()};
}

std::optional<std::string> RunPersonalAttachmentDialog(QWidget* parent, const std::string& folder) {
  dialogs::PersonalAttachmentDialog dialog(parent, folder);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Pattern();
}

void RunVersionDialog(QWidget* parent) {
  dialogs::VersionDialog dialog(parent, CurrentPlatform().VersionString());
  dialog.exec();
}

}  // namespace velkaro::ui
