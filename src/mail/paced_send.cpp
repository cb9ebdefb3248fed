// Paced transmission of a long text (the body, or an attachment's Base64)
// during the DATA phase. Small pieces, a pump after each, and `speed` + 1
// pieces a millisecond at most: some receiving servers of the program's
// users drop data when a client writes as fast as the link allows, and the
// user trades throughput for safety with the speed setting.
//
// The pace is held against deadlines: piece k is due k / (speed + 1) ms
// after the first, and the text as a whole is not done before
// pieces / (speed + 1) ms, so the transmission that follows cannot start
// early either. The sender sleeps only while it is ahead of the next due
// time; a sleep that overshoots, or a slow send, is made up by sending the
// following pieces without sleeping.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"

namespace velkaro {
namespace {

constexpr int kPieceSize = 64;
// Base64 goes out in lines of 64 characters (RFC 2045 allows up to 76).
constexpr char kLineEnd[] = "\r\n";
constexpr int kLineEndSize = 2;
constexpr int kRetryWait = 10;
// Pieces between two plays of the progress sound.
constexpr int kSoundInterval = 50;

std::int32_t ClampToInt32(std::size_t n) {
  return static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX));
}

// When piece `index` (from 0) may go, in microseconds after the first piece,
// rounded up so that no piece is ever early.
std::int64_t DueMicros(std::int64_t index, std::int32_t speed) {
  const std::int64_t perMillisecond = static_cast<std::int64_t>(speed) + 1;
  return (index * 1000 + perMillisecond - 1) / perMillisecond;
}

}  // namespace

bool MailConnection::FlushGathered() {
  if (!smtpSocket || smtpSocket->Flush()) return true;
  transcript += Sjis("  SmtpStringSend2: エラー発生! 送信できませんでした。");
  return false;
}

int MailConnection::SmtpStringSend2(int mode, const std::string& text) {
  Platform& platform = CurrentPlatform();
  Zentool tool;
  // The stop request marks speed 0 as -1, so the sign alone cannot give the
  // configured speed back.
  const std::int32_t configuredSpeed = speed;

  progress.dataSize = ClampToInt32(text.size());
  progress.dataSent = 0;
  progress.sendingData = 1;
  // Over TLS every send would become a record of its own, 29 bytes and a
  // round of the cipher for each 64-byte piece; the pieces between two
  // pacing sleeps go out as one record instead. The bytes per sleep, and so
  // the pace the receiving server sees, stay the same.
  if (smtpSocket) smtpSocket->GatherSends(true);
  if (mode == 0) {
    transcript += Sjis("\r\n>>SmtpStringSend2: 本文開始(Speed=") + std::to_string(speed) + ")\r\n";
  } else {
    transcript += Sjis(">>SmtpStringSend2: 添付開始(Speed=") + std::to_string(speed) + ")\r\n";
  }

  // Counted in 64-bit: an attachment's Base64 text may pass 2 GB, and the
  // progress record only shows a clamped view of it.
  std::size_t sent = 0;     // text bytes done (without added line ends)
  long long bytesSent = 0;  // what the send calls accepted, line ends included
  long long sendCalls = 0;
  std::int64_t piecesDone = 0;
  const std::int64_t paceStart = platform.MonotonicMicros();
  int soundCounter = 0;
  int result = 0;

  // An unknown mode sends nothing, also for an empty text: the caller asked
  // for something this operation does not do.
  if (mode != 0 && mode != 1) result = 1;

  char piece[kPieceSize + kLineEndSize];
  while (result == 0 && sent < text.size()) {
    const int n = static_cast<int>(std::min<std::size_t>(text.size() - sent, kPieceSize));
    std::memcpy(piece, text.data() + sent, static_cast<std::size_t>(n));
    int length = n;
    if (mode == 1) {
      std::memcpy(piece + n, kLineEnd, kLineEndSize);
      length += kLineEndSize;
    }

    // A partial send is retried with the rest of the piece after a pause; a
    // failed send (0 or less) ends the transmission.
    int done = 0;
    while (done < length) {
      const int asked = length - done;
      const int got = smtpSocket ? smtpSocket->Send(piece + done, asked) : -1;
      ++sendCalls;
      if (got > 0) bytesSent += got;
      if (got >= asked) {
        done = length;
        break;
      }
      transcript += Sjis("  SmtpStringSend2: エラー発生! Send結果:") + std::to_string(got) +
                    Sjis(" / Send要求:") + std::to_string(asked) + " ";
      if (got <= 0) {
        result = 2;
        break;
      }
      done += got;
      tool.Wait(kRetryWait);
    }
    if (result != 0) break;

    sent += static_cast<std::size_t>(n);
    progress.dataSent = ClampToInt32(sent);

    if (speed < 0) {
      speed = configuredSpeed >= 0 ? configuredSpeed : -speed;
      result = 3;
      transcript += Sjis("・・・SmtpStringSend2: 強制終了!\r\n");
      break;
    }

    tool.Pump();

    ++piecesDone;
    if (speed > 0) {
      // The next piece's due time; after the last one, the end of this
      // text's share of the pace.
      const std::int64_t due = paceStart + DueMicros(piecesDone, configuredSpeed);
      bool slept = false;
      while (platform.MonotonicMicros() < due) {
        if (slept) {
          tool.Pump();
        } else if (!FlushGathered()) {
          result = 2;
          break;
        }
        platform.Sleep(1);
        slept = true;
      }
      if (result != 0) break;
    }

    if (progressSoundOn == 1) {
      if (soundCounter > 0) {
        --soundCounter;
      } else {
        platform.PlayWave(progressSoundPath);
        soundCounter = kSoundInterval;
      }
    }
  }

  if (result == 0 && !FlushGathered()) result = 2;
  if (smtpSocket) smtpSocket->GatherSends(false);
  progress.sendingData = 0;
  transcript += Sjis("・・・SmtpStringSend2: ストリングサイズ:") + std::to_string(text.size()) +
                Sjis(" ループ回数:") + std::to_string(sendCalls) + Sjis(" 送信サイズ:") +
                std::to_string(bytesSent) + "\r\n";
  return result;
}

}  // namespace velkaro
