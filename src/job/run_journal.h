// The journal of a send run: "Log/journal-YYYYMMDD-hhmmss.txt", written as
// the run goes and flushed to the disk before the next mail starts, so that
// after a crash, a kill or a power cut it still tells which mails the
// server took. A resumed run sends to exactly the others.
//
// UTF-8 text, one record per line ended by LF, fields split by TAB; paths
// and reply texts with backslash escapes for TAB, CR, LF and backslash;
// recipient lines (Shift_JIS) in hexadecimal, byte for byte:
//   velkaro-journal 1
//   start   <time_t> <local time>
//   body    <sha256 of the body text> <body file path>
//   titleIn <0|1>
//   attach  <size> <sha256> <path>          (one per attachment)
//   to      <n> <hex of the recipient line>  (n from 1)
//   ready   <count>
//   data-end <n>                             (the end of data goes out)
//   sent    <n> <reply>
//   refused <n> <code> <reply>
//   in-doubt <n>
//   end     <result>
//   resumed <journal of the run that resumed this one>
//   no-offer                                  (the window asks no more)
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "job/run_results.h"

namespace velkaro {

struct JournalAttachment {
  std::string path;  // file-system bytes (UTF-8)
  std::int64_t size = 0;
  std::string sha256;  // lowercase hex
};

// What a run sends, as it took it at its start.
struct JournalHeader {
  std::time_t start = 0;
  std::string bodyFilePath;
  std::string bodySha256;
  bool titleIn = false;
  std::vector<JournalAttachment> attachments;
  std::vector<std::string> recipientLines;  // Shift_JIS, each with CR LF
};

// Lowercase hex SHA-256 of bytes, and of a file's contents (nothing when
// it cannot be read).
std::string Sha256Hex(const std::string& bytes);
std::optional<std::string> FileSha256Hex(const std::string& path);

// "Log/journal-YYYYMMDD-hhmmss.txt" of the run started at `start`.
std::string BuildJournalName(const std::string& programFolder, std::time_t start);

class JournalWriter {
 public:
  JournalWriter() = default;
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Creates the journal (and the Log folder) and writes the header, on
  // the disk before it returns. False when it could not: then no file is
  // left behind.
  bool Open(const std::string& programFolder, const JournalHeader& header);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Each record is on the disk (fdatasync) when the call returns true.
  bool EndOfDataGoing(int mail);  // mail from 0
  bool Outcome(int mail, const RecipientResult& result);
  bool Finished(int result);

  // After a failed write: removes the journal, so that no resume trusts a
  // record with mails missing. False when even that failed.
  bool Withdraw();

 private:
  bool Append(const std::string& line);
  int fd_ = -1;
  std::string path_;
};

// A journal as read back. Each recipient's state is the last record for
// it: NotSent without one, InDoubt after "data-end" without an outcome.
struct JournalState {
  std::string path;
  JournalHeader header;
  std::vector<RecipientResult> mails;  // outcome, code, reply, line, name, address
  bool finished = false;
  int result = 0;
  bool resumed = false;  // another run took up its recipients
  bool noOffer = false;  // the window is not to offer it again
};

// Nothing (with `error` set, in English) when the file is not a journal
// or cannot be read. A last line cut short by a crash is ignored.
std::optional<JournalState> ReadJournal(const std::string& path, std::string* error);

// Whether a run is still writing the journal (in this or another process).
bool JournalInUse(const std::string& path);

// Appends one record ("resumed\t…", "no-offer") to an existing journal.
bool MarkJournal(const std::string& path, const std::string& record);

// Journals of runs that ended without their "end" record (a crash, a
// kill), not resumed, not declined and not still being written, newest
// first.
std::vector<std::string> UnfinishedJournals(const std::string& programFolder);

}  // namespace velkaro
