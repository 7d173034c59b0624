// The inverse of SplitCommandLine: quoting words by the Windows command-line
// rules. Plain text, the same on every platform.
#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {

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
