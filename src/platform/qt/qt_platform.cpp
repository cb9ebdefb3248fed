#include "platform/qt/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAudioDevice>
#include <QClipboard>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMessageBox>
#include <QObject>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>

#include "core/encoding.h"
#include "platform/posix_services.h"
#include "platform/qt/wave_file.h"
#include "platform/secret_store.h"

namespace velkaro::qt {
namespace {

struct BoxLayout {
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton;
  // What Escape and the window's close button choose.
  QMessageBox::StandardButton escapeButton;
};

BoxLayout LayoutFor(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok: return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
    case MsgButtons::OkCancel:
      return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Cancel};
    case MsgButtons::YesNo:
      return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No};
    case MsgButtons::YesNoCancel:
      return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes,
              QMessageBox::Cancel};
  }
  return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
}

QMessageBox::Icon IconFor(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::None: return QMessageBox::NoIcon;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
  }
  return QMessageBox::NoIcon;
}

MsgAnswer AnswerFor(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    default: return MsgAnswer::Ok;
  }
}

// A file path in the file system's bytes, as Qt names files.
QString PathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

bool LooksLikeUrl(const QString& text) {
  return text.contains(QStringLiteral("://")) ||
         text.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive);
}

// How long a playing sound may overrun its length before it is cut.
constexpr long long kEndSlackMs = 1000;

}  // namespace

QString FromSjis(const std::string& sjis) {
  QString text = QString::fromUtf8(SjisToUtf8(sjis));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

std::string ToSjis(const QString& text, int* unmappable) {
  // Line ends are mended on the Shift_JIS bytes, in one pass: CR and LF are
  // never the second byte of a double-byte character, and a large body then
  // costs one conversion instead of two copies of the text besides.
  const std::string sjis = Utf8ToSjis(text.toStdString(), unmappable);
  std::string out;
  out.reserve(sjis.size() + sjis.size() / 16);
  for (std::size_t i = 0; i < sjis.size(); ++i) {
    const char c = sjis[i];
    if (c == '\r' && i + 1 < sjis.size() && sjis[i + 1] == '\n') continue;
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

QtPlatform::QtPlatform() : context_(std::make_unique<QObject>()) {}

QtPlatform::~QtPlatform() = default;

void QtPlatform::SetMainWindow(QWidget* window) {
  mainWindow_ = window;
}

void QtPlatform::Sleep(int ms) {
  posix::SleepMs(ms);
}

void QtPlatform::Pump() {
  // Posted events first (queued commands), then whatever the window system
  // and the timers have ready; neither call waits for new events.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtPlatform::StartTimer(TimerTarget* target, int id, int periodMs) {
  if (target == nullptr) return;
  QTimer*& timer = timers_[{target, id}];
  if (timer == nullptr) {
    timer = new QTimer(context_.get());
    // Coarse timers may be late by 5 %, a full second on the 20 s reply
    // time-out; the program uses few timers, so precise costs nothing.
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, context_.get(),
                     [target, id] { target->OnTimer(id); });
  }
  timer->start(std::max(1, periodMs));
}

void QtPlatform::StopTimer(TimerTarget* target, int id) {
  const auto it = timers_.find({target, id});
  if (it != timers_.end()) it->second->stop();
}

void QtPlatform::ForgetTimerTarget(TimerTarget* target) {
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == target) {
      it->second->stop();
      it->second->deleteLater();  // may be the timer whose signal is running
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

int QtPlatform::RunningTimers() const {
  return static_cast<int>(std::count_if(
      timers_.begin(), timers_.end(), [](const auto& entry) { return entry.second->isActive(); }));
}

void QtPlatform::PostCommand(int commandId) {
  QMetaObject::invokeMethod(
      context_.get(), [this, commandId] { DeliverCommand(commandId); }, Qt::QueuedConnection);
}

void QtPlatform::PostCloseRequest() {
  QMetaObject::invokeMethod(
      context_.get(), [this] { DeliverCommand(-1); }, Qt::QueuedConnection);
}

void QtPlatform::DeliverCommand(int commandId) {
  // The target at delivery time: one that went away in between gets nothing.
  if (commandTarget_ == nullptr) return;
  if (commandId < 0) {
    commandTarget_->OnCloseRequest();
  } else {
    commandTarget_->OnCommand(commandId);
  }
}

MsgAnswer QtPlatform::MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon icon) {
  return MessageBoxText(FromSjis(sjisText), buttons, icon);
}

MsgAnswer QtPlatform::MessageBoxText(const QString& text, MsgButtons buttons, MsgIcon icon) {
  const BoxLayout layout = LayoutFor(buttons);
  QMessageBox box(IconFor(icon), QStringLiteral("Velkaro"), text, layout.buttons,
                  mainWindow_.data());
  // Texts are never markup, even when they hold "<user@example.jp>".
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(layout.defaultButton);
  box.setEscapeButton(layout.escapeButton);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) return AnswerFor(layout.escapeButton);
  return AnswerFor(box.standardButton(clicked));
}

void QtPlatform::SetStatusText(const std::string& sjisText) {
  if (statusSink_) statusSink_(FromSjis(sjisText));
}

void QtPlatform::PlayWave(const std::string& path) {
  if (path.empty()) return;
  // Only a wave file whose format and data chunks can be read can be
  // played; anything else (missing, a folder, MIDI, garbage) is skipped
  // before the audio back end sees it.
  const WaveProbe probe = ProbeWaveFile(path);
  if (!probe.isWave || !probe.durationMs) return;
  // Without an output device the effect never reports an end; nothing
  // would be heard anyway.
  if (requireAudioOutput_ && QMediaDevices::audioOutputs().isEmpty()) return;

  QSoundEffect effect;
  QEventLoop loop;
  bool started = false;
  bool done = false;
  auto finish = [&] {
    done = true;
    loop.quit();
  };
  QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&] {
    if (effect.isPlaying()) {
      started = true;
    } else if (started) {
      finish();
    }
  });
  QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&] {
    if (effect.status() == QSoundEffect::Error) finish();
  });
  // Whatever the back end does, the caller gets control back a second
  // after the sound should have ended.
  QTimer cap;
  cap.setSingleShot(true);
  cap.setTimerType(Qt::PreciseTimer);
  QObject::connect(&cap, &QTimer::timeout, &loop, finish);

  effect.setSource(QUrl::fromLocalFile(PathToQt(path)));
  effect.play();
  if (done || effect.status() == QSoundEffect::Error) return;
  cap.start(static_cast<int>(std::min<long long>(*probe.durationMs + kEndSlackMs, INT_MAX)));
  // The caller waits for the sound, as with a blocking play; timers and
  // posted commands still run, input waits until the sound has ended.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  effect.stop();
}

std::unique_ptr<StreamSocket> QtPlatform::NewSocket() {
  return posix::NewTcpSocket(*this);
}

bool QtPlatform::ShellOpen(const std::string& target) {
  if (target.empty()) return false;
  QUrl url;
  const QString text = PathToQt(target);
  if (LooksLikeUrl(text)) {
    url = QUrl(text, QUrl::StrictMode);
  } else {
    const QFileInfo info(text);
    if (!info.exists()) return false;
    url = QUrl::fromLocalFile(info.absoluteFilePath());
  }
  if (!url.isValid()) return false;
  return QDesktopServices::openUrl(url);
}

std::optional<std::string> QtPlatform::ClipboardText() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return std::nullopt;
  const QString text = clipboard->text(QClipboard::Clipboard);
  if (text.isEmpty()) return std::nullopt;
  return ToSjis(text);
}

std::string QtPlatform::ExecutablePath() {
  return posix::ExecutablePath();
}

std::string QtPlatform::VersionString() {
  return posix::BuildVersion();
}

std::string QtPlatform::ProgramFolder() {
  if (!programFolder_) programFolder_ = posix::ProgramFolder(ExecutablePath());
  return *programFolder_;
}

std::time_t QtPlatform::Now() {
  return std::time(nullptr);
}

std::optional<std::string> QtPlatform::LookupSecret(const std::string& account) {
  return posix::LookupSecret(*this, account);
}

int QtPlatform::StoreSecret(const std::string& account, const std::string& secret) {
  return posix::StoreSecret(*this, account, secret);
}

std::optional<std::string> QtPlatform::RunPasswordCommand(const std::string& command,
                                                          int timeoutMs) {
  return posix::RunPasswordCommand(*this, command, timeoutMs);
}

std::string QtPlatform::HostName() {
  if (!hostName_) hostName_ = posix::FullyQualifiedHostName();
  return *hostName_;
}

std::tm QtPlatform::LocalTime(std::time_t t) {
  return posix::LocalTime(t);
}

}  // namespace velkaro::qt
