// What every send run leaves in the program folder: a copy of each mail
// text as it was sent ("Text"), and a run summary appended to the log of
// the month ("Log/logYYYYMM.txt").
#pragma once

#include <ctime>
#include <string>

namespace velkaro {

// Where the copy of mail `index` (0-based) of the run started at `start`
// goes: program folder + "/Text/" + (body file's name or "text") + "_" +
// YYYYMMDD-HHMMSS + "_" + index + (body file's extension or ".txt").
std::string BuildArchiveName(const std::string& programFolder, const std::string& bodyFilePath,
                             std::time_t start, int index);

// The log file of the month of `start`.
std::string BuildLogName(const std::string& programFolder, std::time_t start);

// 0 written (or nothing to write); 4 the folder could not be created;
// 2 the file could not be opened; -1 an input/output error; 1 any other
// file error. A copy that could not be written whole is removed.
int SaveSentText(const std::string& programFolder, const std::string& bodyFilePath,
                 std::time_t start, int index, const std::string& text);

// Appends a run summary. 0 written (or nothing to write); 4 folder not
// created; 3 an existing log could not be opened for appending; 2 a new
// log could not be created; -1 input/output error; 1 any other error.
// A summary that could not be appended whole is taken back, so the log
// keeps exactly the runs it had.
int WriteSendLog(const std::string& programFolder, std::time_t start, const std::string& text);

}  // namespace velkaro
