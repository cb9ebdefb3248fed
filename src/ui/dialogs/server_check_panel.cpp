#include "ui/dialogs/server_check_panel.h"

#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include "job/run_results.h"
#include "job/server_check.h"
#include "platform/qt/qt_platform.h"
#include "ui/dialogs/dialog_frame.h"

namespace velkaro::ui::dialogs {
namespace {

const QString kStartCaption = QStringLiteral("接続テスト");
const QString kStopCaption = QStringLiteral("中止");

// What ServerCheck::Run ends with, in the user's words.
QString Outcome(int code) {
  switch (code) {
    case run_result::kSent: return QStringLiteral("結果: 成功 (送信できる状態です)");
    case run_result::kOpenFailed: return QStringLiteral("結果: 失敗 (SMTPサーバとの接続)");
    case run_result::kPopBeforeSmtpFailed: return QStringLiteral("結果: 失敗 (POP before SMTP)");
    case run_result::kQuitFailed: return QStringLiteral("結果: 失敗 (QUIT)");
    default: return QStringLiteral("結果: 失敗 (コード %1)").arg(code);
  }
}

}  // namespace

ServerCheckPanel::ServerCheckPanel(QWidget* dialog, const QRect& buttonRect, const QRect& logRect,
                                   Prepare prepare)
    : button_(MakeButton(dialog, kStartCaption, buttonRect)),
      log_(new QListWidget(dialog)),
      prepare_(std::move(prepare)) {
  // A button that is not the default: Enter in a field still means OK.
  button_->setAutoDefault(false);
  log_->setGeometry(logRect);
  log_->setSelectionMode(QAbstractItemView::NoSelection);
  log_->setFocusPolicy(Qt::NoFocus);
  log_->setWordWrap(true);
  QObject::connect(button_, &QPushButton::clicked, [this] { OnClick(); });
}

ServerCheckPanel::~ServerCheckPanel() {
  CurrentPlatform().StopTimer(this, MailConnection::kReplyTimerId);
}

void ServerCheckPanel::StopThen(std::function<void()> then) {
  if (!busy_) {
    if (then) then();
    return;
  }
  afterStop_ = std::move(then);
  stopRequested_ = true;
  if (check_ != nullptr) check_->Cancel();
}

void ServerCheckPanel::OnTimer(int id) {
  CurrentPlatform().StopTimer(this, id);
  // A server that does not answer in time fails its step as in a run; the
  // check's stop ends the wait the same way, but it is not the user's stop.
  if (id == MailConnection::kReplyTimerId && check_ != nullptr) {
    timedOut_ = true;
    check_->Cancel();
  }
}

void ServerCheckPanel::OnClick() {
  // Clicks arrive inside the test's own waits: there they mean "stop".
  if (busy_) {
    StopThen(nullptr);
    return;
  }
  busy_ = true;
  stopRequested_ = false;
  timedOut_ = false;
  afterStop_ = nullptr;
  button_->setText(kStopCaption);
  log_->clear();
  const auto values = prepare_();
  if (values && !stopRequested_) {
    Run(values->first, values->second);
  } else if (values) {
    Add(QStringLiteral("中止しました"));
  }
  Finish();
}

void ServerCheckPanel::Run(const ServerSettings& server, const SecuritySettings& security) {
  Add(QStringLiteral("接続テスト: SMTP %1:%2")
          .arg(qt::FromSjis(FieldText(server.smtpServer)))
          .arg(server.smtpPort));
  ServerCheck check(server, security, this);
  check_ = &check;
  const int result = check.Run([this](const ServerCheckStep& step) { Show(step); });
  check_ = nullptr;
  CurrentPlatform().StopTimer(this, MailConnection::kReplyTimerId);
  if (stopRequested_) {
    Add(QStringLiteral("中止しました"));
  } else if (timedOut_) {
    Add(QStringLiteral("結果: 失敗 (サーバの応答を待つ時間が過ぎました)"));
  } else {
    Add(Outcome(result));
  }
}

void ServerCheckPanel::Show(const ServerCheckStep& step) {
  QString line =
      (step.ok ? QStringLiteral("OK  ") : QStringLiteral("NG  ")) + qt::FromSjis(step.name);
  QString detail = qt::FromSjis(step.detail).trimmed();
  // A step fails without words when the server did not answer at all.
  if (detail.isEmpty() && !step.ok) detail = QStringLiteral("(応答なし)");
  if (!detail.isEmpty()) line += QStringLiteral("  ") + detail;
  Add(line);
}

void ServerCheckPanel::Add(const QString& line) {
  log_->addItem(line);
  log_->scrollToBottom();
}

void ServerCheckPanel::Finish() {
  busy_ = false;
  button_->setText(kStartCaption);
  // The dialog may close in there (OK or cancel during the test): nothing
  // of the panel is touched afterwards.
  std::function<void()> then = std::move(afterStop_);
  afterStop_ = nullptr;
  if (then) then();
}

}  // namespace velkaro::ui::dialogs
