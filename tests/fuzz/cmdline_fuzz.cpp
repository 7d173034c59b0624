// The command-line splitter over the input as a command line. Its words are
// quoted again the way a Windows program quotes arguments for the C runtime
// and joined; splitting that line must give the same words back.

#include "fuzz_support.h"
#include "platform/process.h"

namespace {

// Quotes one argument so that the C runtime's rules read it back unchanged.
std::string QuoteArgument(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos) return word;
  std::string out = "\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < word.size() && word[i] == '\\') {
      ++backslashes;
      ++i;
    }
    if (i == word.size()) {
      out.append(backslashes * 2, '\\');
      break;
    }
    if (word[i] == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    out.push_back(word[i]);
  }
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words = platform::SplitCommandLine(line);
  // The line ends at its first zero byte, as a C string does.
  FUZZ_CHECK(words == platform::SplitCommandLine(line.c_str()));
  if (words.empty()) return 0;

  // The program name never holds a quote (quotes only group there), so
  // quoting it whole is enough.
  FUZZ_CHECK(words[0].find('"') == std::string::npos);
  std::string rebuilt = "\"" + words[0] + "\"";
  for (size_t i = 1; i < words.size(); ++i) {
    FUZZ_CHECK(words[i].find('\0') == std::string::npos);
    rebuilt += " " + QuoteArgument(words[i]);
  }
  FUZZ_CHECK(platform::SplitCommandLine(rebuilt) == words);
  return 0;
}
