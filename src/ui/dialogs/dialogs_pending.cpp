// Stand-ins for the dialogs until they are built: each says so.
#include "core/encoding.h"
#include "platform/platform.h"
#include "ui/dialogs/dialogs.h"

namespace velkaro::ui {
namespace {

void NotYet() {
  CurrentPlatform().MessageBox(Sjis("この画面はまだ用意されていません。"), MsgButtons::Ok,
                               MsgIcon::Information);
}

}  // namespace

std::optional<std::string> RunAddressSelectDialog(QWidget*, const std::string&) {
  NotYet();
  return std::nullopt;
}
std::optional<std::string> RunAddressEditDialog(QWidget*, const std::string&) {
  NotYet();
  return std::nullopt;
}
bool RunSettingsSheet(QWidget*, Settings&) {
  NotYet();
  return false;
}
bool RunServerDialog(QWidget*, Settings&) {
  NotYet();
  return false;
}
void RunPreviewDialog(QWidget*, const SendJob&, const Settings&) { NotYet(); }
void RunVersionDialog(QWidget*) { NotYet(); }

}  // namespace velkaro::ui
