// The command-line splitter over the input as a command line. Its words are
// quoted again as the program quotes arguments for the C runtime and joined;
// splitting that line must give the same words back.

#include "fuzz_support.h"
#include "platform/process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words = platform::SplitCommandLine(line);
  // The line ends at its first zero byte, as a C string does.
  FUZZ_CHECK(words == platform::SplitCommandLine(line.c_str()));
  if (words.empty()) return 0;

  // The program name never holds a quote (quotes only group there), so
  // quoting it whole is enough; the other words are quoted as the program
  // quotes them, which no word of a split line makes fail.
  FUZZ_CHECK(words[0].find('"') == std::string::npos);
  std::vector<std::string> arguments = words;
  arguments[0] = "p";
  std::string joined;
  FUZZ_CHECK(platform::JoinCommandLine(arguments, &joined));
  const std::string rebuilt = "\"" + words[0] + "\"" + joined.substr(1);
  FUZZ_CHECK(platform::SplitCommandLine(rebuilt) == words);
  return 0;
}
