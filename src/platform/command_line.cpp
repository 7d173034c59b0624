// Splitting a command line into words by the Windows command-line rules and
// its inverse, quoting words. Plain text, the same on every platform.
#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program word, as CreateProcess reads it: it ends at a blank outside
// quotes, quotes only group, backslashes are literal.
std::string ReadProgramWord(const char** cursor) {
  const char* p = *cursor;
  std::string program;
  bool inQuotes = false;
  for (; *p && (inQuotes || !IsBlank(*p)); ++p) {
    if (*p == '"') {
      inQuotes = !inQuotes;
    } else {
      program += *p;
    }
  }
  *cursor = p;
  return program;
}

// Backslashes and a following quote in an argument: 2n backslashes give n
// and the quote groups, 2n+1 give n and a literal quote; inside quotes two
// quotes give one literal quote. Other backslashes are literal. Returns true
// when a quote was read.
bool ReadBackslashesAndQuote(const char** cursor, std::string* word, bool* inQuotes) {
  const char* p = *cursor;
  size_t backslashes = 0;
  while (*p == '\\') {
    ++backslashes;
    ++p;
  }
  bool quote = *p == '"';
  if (!quote) {
    word->append(backslashes, '\\');
  } else {
    word->append(backslashes / 2, '\\');
    if (backslashes % 2 == 1) {
      *word += '"';
      ++p;
    } else if (*inQuotes && p[1] == '"') {
      *word += '"';
      p += 2;
    } else {
      *inQuotes = !*inQuotes;
      ++p;
    }
  }
  *cursor = p;
  return quote;
}

std::string ReadArgumentWord(const char** cursor) {
  std::string word;
  bool inQuotes = false;
  for (;;) {
    if (ReadBackslashesAndQuote(cursor, &word, &inQuotes)) continue;
    const char* p = *cursor;
    if (!*p || (!inQuotes && IsBlank(*p))) break;
    word += *p;
    ++*cursor;
  }
  return word;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  // A command line is a C string on Windows: it ends at the first zero.
  const char* p = commandLine.c_str();
  while (IsBlank(*p)) ++p;
  if (!*p) return words;
  words.push_back(ReadProgramWord(&p));
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    words.push_back(ReadArgumentWord(&p));
  }
  return words;
}

namespace {

bool NeedsQuotes(const std::string& word) {
  return word.empty() || word.find_first_of(" \t\"") != std::string::npos;
}

// Inside quotes, backslashes are literal unless a quote follows them: those
// are doubled, and a quote of the word gets one more backslash to escape it.
std::string QuoteArgument(const std::string& word) {
  if (!NeedsQuotes(word)) return word;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(2 * backslashes + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    out += c;
    backslashes = 0;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

}  // namespace

bool JoinCommandLine(const std::vector<std::string>& words, std::string* commandLine) {
  if (words.empty() || words[0].empty() || words[0].find('"') != std::string::npos) return false;
  for (const std::string& word : words) {
    if (word.find('\0') != std::string::npos) return false;
  }
  // The program word only groups quotes; its backslashes are always literal.
  std::string line = NeedsQuotes(words[0]) ? "\"" + words[0] + "\"" : words[0];
  for (size_t i = 1; i < words.size(); ++i) line += " " + QuoteArgument(words[i]);
  *commandLine = line;
  return true;
}

}  // namespace platform
