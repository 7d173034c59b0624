// The option parser over the program's own table. The input is the argument
// list, words separated by zero bytes (argv[0] is added). Every value buffer
// is a heap block of exactly its declared size, so a write past it is caught.
#include <algorithm>
#include <cstring>
#include <memory>

#include "app/options.h"
#include "app/tarvelin.h"
#include "config/command_options.h"
#include "fuzz_support.h"

namespace {

const int kTableRows = 19;
const size_t kMaxWords = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words{"tarvelin"};
  const char* text = reinterpret_cast<const char*>(data);
  for (size_t start = 0; start <= size && words.size() < kMaxWords;) {
    const void* zero = std::memchr(text + start, 0, size - start);
    size_t end = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;
    words.emplace_back(text + start, end - start);
    start = end + 1;
  }

  CommandOptions options;
  std::memset(&options, 0, sizeof(options));
  OptionEntry table[kTableRows];
  BuildOptionTable(&options, table);
  FUZZ_CHECK(table[kTableRows - 1].name == nullptr);

  // Each target gets its own block, filled with a marker byte so that a
  // missing terminator shows.
  std::vector<std::unique_ptr<char[]>> blocks;
  for (int i = 0; table[i].name; ++i) {
    OptionEntry& row = table[i];
    size_t bytes = row.type == kOptionString ? static_cast<size_t>(row.size) : sizeof(int32_t);
    FUZZ_CHECK(bytes > 0);
    blocks.emplace_back(new char[bytes]);
    std::memset(blocks.back().get(), row.type == kOptionString ? 'x' : 0, bytes);
    if (row.type == kOptionString) blocks.back()[0] = '\0';
    row.target = blocks.back().get();
  }

  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const std::vector<char*> original = argv;
  int argc = static_cast<int>(words.size());

  int result = ParseOptions(table, &argc, argv.data());
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(argc >= 1 && argc <= static_cast<int>(words.size()));
  FUZZ_CHECK(argv[argc] == nullptr);
  FUZZ_CHECK(argv[0] == original[0]);

  // The words left are the unrecognised ones, in their order; before a
  // lone "--" no option word may be left.
  size_t next = 1;
  const size_t dashes = std::find(words.begin() + 1, words.end(), "--") - words.begin();
  for (int i = 1; i < argc; ++i) {
    while (next < words.size() && original[next] != argv[i]) ++next;
    FUZZ_CHECK(next < words.size());
    const bool option = std::any_of(table, table + kTableRows - 1, [&](const OptionEntry& row) {
      return std::strcmp(row.name, argv[i]) == 0;
    });
    if (next < dashes) FUZZ_CHECK(!option && words[next] != "--");
    ++next;
  }

  for (int i = 0; table[i].name; ++i) {
    const OptionEntry& row = table[i];
    if (row.type == kOptionString) {
      const char* value = static_cast<const char*>(row.target);
      FUZZ_CHECK(strnlen(value, static_cast<size_t>(row.size)) < static_cast<size_t>(row.size));
    } else {
      int32_t value;
      std::memcpy(&value, row.target, sizeof(value));
      if (row.type == kOptionFlag) FUZZ_CHECK(value == 0 || value == 1);
    }
  }
  return 0;
}
