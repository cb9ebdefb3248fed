// Manual pages made from a program's --help text, so the two cannot tell
// different stories: the options, the paragraphs and the preformatted
// blocks of the help become the roff of the page; the sections no help
// text has (files, environment, exit status, examples) are added here.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velkaro::cli {

// One entry of a list section: a term (empty for a plain paragraph) and
// its text, both plain UTF-8 (the page escapes them).
struct ManEntry {
  std::string term;
  std::string text;
};

struct ManPageSource {
  std::string name;     // "velkaro-send"
  std::string summary;  // the NAME line's words after the dash
  std::string version;  // "1.0.0"
  std::string help;     // the --help text, GNU layout
  std::vector<ManEntry> exitStatus;
  std::vector<ManEntry> extraEnvironment;  // besides the common ones
  std::vector<ManEntry> examples;          // term: the command; text: what it does
};

// The manual page in roff (man macros), ASCII only: every other character
// is written as a \[uXXXX] escape.
std::string ManPage(const ManPageSource& source);

// Plain text for a roff text line: backslashes and minus signs escaped,
// a leading dot or quote defused, non-ASCII as \[uXXXX].
std::string RoffEscape(const std::string& text);

// The options a help text defines: the first word of every entry of its
// option lists ("-h, --help" gives both), as they appear.
std::vector<std::string> HelpOptionNames(const std::string& help);
// The same of a page ManPage made (its .TP entries of OPTIONS).
std::vector<std::string> ManOptionNames(const std::string& roff);

}  // namespace velkaro::cli
