#include "spool/journal.h"

#include <charconv>

#include "os/os.h"
#include "os/text.h"
#include "spool/spool_files.h"

namespace ovix {
namespace {

struct StateName {
  JobState state;
  std::string_view name;
};
// The names of the states in the journal file. CANCEL and PRINTING/PRINTED are
// also what older drivers wrote.
constexpr StateName kStateNames[] = {
    {JobState::Printing, "PRINTING"}, {JobState::Paying, "PAYING"},
    {JobState::Printed, "PRINTED"},   {JobState::Cancelled, "CANCEL"},
    {JobState::GivenUp, "GIVENUP"},
};

template <typename Number>
bool ReadNumber(std::string_view text, Number* value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::optional<FileIdentity> ParseIdentity(std::string_view text) {
  const std::size_t first = text.find(':');
  const std::size_t second = text.find(':', first == text.npos ? first : first + 1);
  if (first == text.npos || second == text.npos) return std::nullopt;
  FileIdentity id;
  if (!ReadNumber(text.substr(0, first), &id.size) ||
      !ReadNumber(text.substr(first + 1, second - first - 1), &id.modified) ||
      !ReadNumber(text.substr(second + 1), &id.contentHash))
    return std::nullopt;
  return id;
}

}  // namespace

FileIdentity IdentityOf(std::string_view content, std::int64_t modified) {
  return FileIdentity{content.size(), modified, Fnv1a64(content)};
}

std::string FormatJournalLine(const JournalEntry& entry) {
  std::string line;
  for (const StateName& s : kStateNames)
    if (s.state == entry.state) line = s.name;
  line += ' ';
  if (const auto& id = entry.identity) {
    line += std::to_string(id->size) + ':' + std::to_string(id->modified) + ':' +
            std::to_string(id->contentHash);
  } else {
    line += '-';
  }
  return line + ' ' + VisibleText(entry.name, true);
}

std::optional<JournalEntry> ParseJournalLine(std::string_view line) {
  const std::size_t blank = line.find(' ');
  if (blank == line.npos) return std::nullopt;
  JournalEntry entry;
  const StateName* state = nullptr;
  for (const StateName& s : kStateNames)
    if (line.substr(0, blank) == s.name) state = &s;
  if (state == nullptr) return std::nullopt;
  entry.state = state->state;
  std::string_view rest = line.substr(blank + 1);
  const std::size_t second = rest.find(' ');
  const std::string_view identity = rest.substr(0, second);
  if (second != rest.npos && identity == "-") {
    rest.remove_prefix(second + 1);
  } else if (second != rest.npos && (entry.identity = ParseIdentity(identity))) {
    rest.remove_prefix(second + 1);
  }
  // Otherwise a line of an older driver: the rest is the name.
  if (rest.empty()) return std::nullopt;
  // Names are UTF-8; a name in the ANSI code page was written by a driver
  // that kept names so on Windows, and is read so.
  entry.name = Utf8FromNarrow(UnescapeText(rest));
  return entry;
}

Journal::Journal(Env& env, std::string path) : env_(env), path_(std::move(path)) {}

bool Journal::FileMayExist() const {
  FileStatus status;
  return !env_.Status(PathFromText(path_), &status, nullptr) || status.type != FileType::Missing;
}

bool Journal::Load(std::string* error) {
  entries_.clear();
  if (!FileMayExist()) return true;
  const std::optional<std::vector<std::string>> lines = ReadLines(env_, path_, error);
  if (!lines) return false;
  for (const std::string& line : *lines) {
    std::optional<JournalEntry> entry = ParseJournalLine(line);
    if (!entry) continue;
    std::erase_if(entries_, [&](const JournalEntry& e) { return e.name == entry->name; });
    entries_.push_back(std::move(*entry));
  }
  return true;
}

std::optional<JournalEntry> Journal::Find(const std::string& name) const {
  for (const JournalEntry& e : entries_)
    if (e.name == name) return e;
  return std::nullopt;
}

bool Journal::Put(const JournalEntry& entry, std::string* error) {
  bool replaced = false;
  for (JournalEntry& e : entries_) {
    if (e.name != entry.name) continue;
    if (e.state == entry.state && e.identity == entry.identity && !unwritten_) return true;
    e = entry;
    replaced = true;
  }
  if (!replaced) entries_.push_back(entry);
  return Write(error);
}

bool Journal::Remove(const std::string& name, std::string* error) {
  if (std::erase_if(entries_, [&](const JournalEntry& e) { return e.name == name; }) == 0)
    return true;
  return Write(error);
}

bool Journal::WriteAgain(std::string* error) {
  return !unwritten_ || Write(error);
}

bool Journal::Write(std::string* error) {
  std::string content;
  for (const JournalEntry& e : entries_) content += FormatJournalLine(e) + "\n";
  if (entries_.empty()) {
    unwritten_ = FileMayExist() && !RemoveFileDurably(env_, path_, error);
  } else {
    unwritten_ = !WriteFileDurably(env_, path_, content, error);
  }
  return !unwritten_;
}

}  // namespace ovix
