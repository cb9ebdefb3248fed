#include "cli/man_page.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace velkaro::cli {
namespace {

// Help lines indented this far or more carry on an option's text; terms
// start at column 2 (short options) or 6 (long ones without a short form).
constexpr std::size_t kTextIndent = 8;

struct HelpPart {
  enum class Kind { Paragraph, Options, Block };
  Kind kind = Kind::Paragraph;
  std::string heading;             // of a block, without its colon
  std::vector<std::string> lines;  // paragraph or block lines
  std::vector<ManEntry> entries;   // option list
};

struct ParsedHelp {
  std::string synopsis;  // the usage line after the program name
  std::vector<HelpPart> parts;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trim(const std::string& s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

void AppendText(std::string& to, const std::string& more) {
  if (more.empty()) return;
  if (!to.empty()) to += ' ';
  to += more;
}

// The help in its parts: paragraphs (unindented lines), option lists
// (indented "term  text" lines) and headed blocks ("Heading:" followed by
// indented lines, kept as they are laid out).
ParsedHelp ParseHelp(const std::string& help) {
  ParsedHelp parsed;
  const std::vector<std::string> lines = Lines(help);
  if (!lines.empty()) {
    const std::string usage = lines[0].rfind("Usage: ", 0) == 0 ? lines[0].substr(7) : lines[0];
    const std::size_t space = usage.find(' ');
    parsed.synopsis = space == std::string::npos ? "" : usage.substr(space + 1);
  }
  HelpPart* current = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (Trim(line).empty()) {
      current = nullptr;
      continue;
    }
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == 0) {
      if (line.back() == ':') {
        current = &parsed.parts.emplace_back();
        current->kind = HelpPart::Kind::Block;
        current->heading = line.substr(0, line.size() - 1);
        continue;
      }
      if (current == nullptr || current->kind != HelpPart::Kind::Paragraph) {
        current = &parsed.parts.emplace_back();
      }
      current->lines.push_back(line);
      continue;
    }
    if (current != nullptr && current->kind == HelpPart::Kind::Block) {
      current->lines.push_back(line.substr(std::min<std::size_t>(indent, 2)));
      continue;
    }
    if (current == nullptr || current->kind != HelpPart::Kind::Options) {
      current = &parsed.parts.emplace_back();
      current->kind = HelpPart::Kind::Options;
    }
    if (indent >= kTextIndent && !current->entries.empty()) {
      AppendText(current->entries.back().text, Trim(line));
      continue;
    }
    const std::string rest = line.substr(indent);
    const std::size_t gap = rest.find("  ");
    ManEntry entry;
    entry.term = Trim(rest.substr(0, gap));
    if (gap != std::string::npos) entry.text = Trim(rest.substr(gap));
    current->entries.push_back(entry);
  }
  return parsed;
}

// Decodes one UTF-8 sequence at `i`; 0xFFFD for a broken one.
unsigned NextCodePoint(const std::string& s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned lead = byte(i++);
  int more = 0;
  unsigned cp = 0;
  if (lead >= 0xF0 && lead < 0xF8) {
    more = 3;
    cp = lead & 0x07;
  } else if (lead >= 0xE0) {
    more = 2;
    cp = lead & 0x0F;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    more = 1;
    cp = lead & 0x1F;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < more; ++k) {
    if (i >= s.size() || (byte(i) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (byte(i++) & 0x3F);
  }
  return cp;
}

std::string Italic(const std::string& text) {
  return "\\fI" + RoffEscape(text) + "\\fR";
}

std::string Bold(const std::string& text) {
  return "\\fB" + RoffEscape(text) + "\\fR";
}

// "--text FILE" as bold option and italic argument; "/sendinf=FILE" the same.
std::string TermLine(const std::string& term) {
  std::string out;
  std::istringstream words(term);
  for (std::string word; words >> word;) {
    if (!out.empty()) out += ' ';
    std::string tail;
    if (word.size() > 1 && word.back() == ',') {
      tail = ",";
      word.pop_back();
    }
    if (word[0] == '-' || word[0] == '/') {
      const std::size_t equals = word.find('=');
      out += equals == std::string::npos || equals + 1 == word.size()
                 ? Bold(word)
                 : Bold(word.substr(0, equals + 1)) + Italic(word.substr(equals + 1));
    } else {
      out += Italic(word);
    }
    out += RoffEscape(tail);
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

void Section(std::string& out, const std::string& title) {
  out += ".SH " + RoffEscape(Upper(title)) + "\n";
}

void Entries(std::string& out, const std::vector<ManEntry>& entries) {
  for (const ManEntry& e : entries) {
    if (e.term.empty()) {
      out += ".PP\n" + RoffEscape(e.text) + "\n";
    } else {
      out += ".TP\n" + TermLine(e.term) + "\n" + RoffEscape(e.text) + "\n";
    }
  }
}

// Lines kept as laid out; `indent` for commands set off from the text.
void Preformatted(std::string& out, const std::vector<std::string>& lines, bool indent) {
  out += indent ? ".PP\n.RS 4\n.nf\n" : ".PP\n.nf\n";
  for (const std::string& line : lines) out += RoffEscape(line) + "\n";
  out += indent ? ".fi\n.RE\n" : ".fi\n";
}

void Paragraph(std::string& out, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) AppendText(text, Trim(line));
  out += ".PP\n" + RoffEscape(text) + "\n";
}

// Where both programs keep their files; the same for the window and the
// command line, as they share one program folder.
const std::vector<ManEntry>& FileEntries() {
  static const std::vector<ManEntry> entries = {
      {"", "Both programs keep their files in one program folder:"},
      {"$VELKARO_HOME", "when set: the program folder, created when missing."},
      {"~/.local/share/velkaro",
       "the program folder of the installed program ($XDG_DATA_HOME/velkaro when "
       "XDG_DATA_HOME is set), created on the first start. Nothing is ever written "
       "next to an installed program (/usr/bin, /usr/local/bin). A program run from "
       "its build folder or a copied folder uses the folder of its executable when "
       "that is writable."},
      {"Velkaro.cfg", "the settings file (servers, sender, options; binary)."},
      {"Velkaro.ini",
       "the text settings: security, login, character set and the [run] section "
       "(see velkaro-send --show-settings)."},
      {"VelkaroAddress.txt",
       "the address book, TAB-separated Shift_JIS with CR LF line ends; an empty "
       "one is written on the first start. Another name can be set in the settings."},
      {"NormalEnd.wav, ErrorEnd.wav, OneMail.wav, Develop.wav",
       "the event sounds, written on every start when missing."},
      {"Log/logYYYYMM.txt", "the send log, one per month."},
      {"Log/result-YYYYMMDD-hhmmss.csv",
       "the result list of a run (UTF-8 with BOM): each recipient as sent, refused, "
       "in-doubt or not-sent."},
      {"Log/journal-YYYYMMDD-hhmmss.txt",
       "the journal of a run, flushed before each next mail; velkaro-send --resume "
       "sends the mails it does not record as accepted."},
      {"Text/", "a copy of every text sent."},
  };
  return entries;
}

const std::vector<ManEntry>& EnvironmentEntries() {
  static const std::vector<ManEntry> entries = {
      {"VELKARO_HOME", "the program folder, used before any other (see FILES)."},
      {"XDG_DATA_HOME",
       "the base of the program folder of the installed program (default "
       "~/.local/share); ignored unless it is an absolute path."},
      {"HOME", "the user's home folder, for ~/.local/share."},
      {"VELKARO_SMTP_PASSWORD",
       "the SMTP password for the login, before the desktop's secret store and "
       "Velkaro.ini are asked."},
      {"DBUS_SESSION_BUS_ADDRESS",
       "the session bus of the desktop's secret store (secret-tool); without it the "
       "password is looked for in Velkaro.ini only."},
      {"PATH", "where aplay (the event sounds) and secret-tool are looked for."},
  };
  return entries;
}

std::string SeeAlso(const std::string& name) {
  std::string out;
  for (const char* page : {"velkaro", "velkaro-send"}) {
    if (name == page) continue;
    if (!out.empty()) out += ",\n";
    out += ".BR " + RoffEscape(page) + " (1)";
  }
  return out + "\n";
}

std::string Unescape(const std::string& roff) {
  std::string out;
  for (std::size_t i = 0; i < roff.size(); ++i) {
    if (roff[i] != '\\' || i + 1 >= roff.size()) {
      out += roff[i];
      continue;
    }
    const char c = roff[++i];
    if (c == 'f' && i + 1 < roff.size()) {
      ++i;  // font change: \fB, \fI, \fR
    } else if (c == '-') {
      out += '-';
    } else if (c == 'e') {
      out += '\\';
    } else if (c != '&') {
      out += '\\';
      out += c;
    }
  }
  return out;
}

void AddNames(std::vector<std::string>& names, const std::string& term) {
  std::istringstream words(term);
  for (std::string word; words >> word;) {
    if (word.back() == ',') word.pop_back();
    if (word.empty() || (word[0] != '-' && word[0] != '/')) continue;
    const std::size_t equals = word.find('=');
    // "--opt=VALUE" is --opt; "/text=FILE" keeps its "=": that is the word.
    if (equals != std::string::npos) word.resize(word[0] == '/' ? equals + 1 : equals);
    names.push_back(word);
  }
}

void SortUnique(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

}  // namespace

std::string RoffEscape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      char code[16];
      std::snprintf(code, sizeof code, "\\[u%04X]", NextCodePoint(text, i));
      out += code;
      continue;
    }
    ++i;
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c == '\t') {
      out += ' ';
    } else if (c >= 0x20 && c != 0x7F) {
      // A dot or a quote first on a line would start a request.
      if (out.empty() && (c == '.' || c == '\'')) out += "\\&";
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ManPage(const ManPageSource& source) {
  const ParsedHelp help = ParseHelp(source.help);
  std::string out = ".TH " + RoffEscape(Upper(source.name)) + " 1 \"\" \"Velkaro " +
                    RoffEscape(source.version) + "\" \"User Commands\"\n";
  // Option names and paths must not be broken at a hyphen.
  out += ".nh\n";
  Section(out, "Name");
  out += RoffEscape(source.name) + " \\- " + RoffEscape(source.summary) + "\n";
  Section(out, "Synopsis");
  out += ".B " + RoffEscape(source.name) + "\n" + RoffEscape(help.synopsis) + "\n";

  Section(out, "Description");
  std::size_t i = 0;
  for (; i < help.parts.size() && help.parts[i].kind == HelpPart::Kind::Paragraph; ++i) {
    Paragraph(out, help.parts[i].lines);
  }
  bool optionsOpen = false;
  for (; i < help.parts.size(); ++i) {
    const HelpPart& part = help.parts[i];
    if (part.kind == HelpPart::Kind::Options) {
      if (!optionsOpen) Section(out, "Options");
      optionsOpen = true;
      Entries(out, part.entries);
    } else if (part.kind == HelpPart::Kind::Paragraph) {
      Paragraph(out, part.lines);
    } else {
      // Exit status and examples have sections of their own, below.
      const std::string heading = Upper(part.heading);
      if (heading == "EXIT STATUS" || heading.rfind("EXAMPLE", 0) == 0) continue;
      Section(out, part.heading);
      Preformatted(out, part.lines, false);
    }
  }
  if (!source.exitStatus.empty()) {
    Section(out, "Exit status");
    Entries(out, source.exitStatus);
  }
  Section(out, "Environment");
  Entries(out, EnvironmentEntries());
  Entries(out, source.extraEnvironment);
  Section(out, "Files");
  Entries(out, FileEntries());
  if (!source.examples.empty()) {
    Section(out, "Examples");
    for (const ManEntry& e : source.examples) {
      out += ".PP\n" + RoffEscape(e.text) + "\n";
      Preformatted(out, Lines(e.term), true);
    }
  }
  Section(out, "See also");
  out += SeeAlso(source.name);
  return out;
}

std::vector<std::string> HelpOptionNames(const std::string& help) {
  std::vector<std::string> names;
  for (const HelpPart& part : ParseHelp(help).parts) {
    for (const ManEntry& e : part.entries) AddNames(names, e.term);
  }
  SortUnique(names);
  return names;
}

std::vector<std::string> ManOptionNames(const std::string& roff) {
  std::vector<std::string> names;
  const std::vector<std::string> lines = Lines(roff);
  bool inOptions = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(".SH ", 0) == 0) inOptions = lines[i] == ".SH OPTIONS";
    if (inOptions && lines[i] == ".TP" && i + 1 < lines.size()) {
      AddNames(names, Unescape(lines[i + 1]));
    }
  }
  SortUnique(names);
  return names;
}

}  // namespace velkaro::cli
