#include "app/options.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

void RemoveWords(int index, int count, int* argc, char** argv) {
  for (int i = index; i + count < *argc; ++i) argv[i] = argv[i + count];
  *argc -= count;
  argv[*argc] = nullptr;
}

int32_t ParseSaturated(const char* text) {
  bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  long long value = 0;
  for (; *text; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

const char* UsageLabel(int32_t type) {
  switch (type) {
    case kOptionInteger:
      return " <int>";
    case kOptionString:
      return " <string>";
    default:
      return "";
  }
}

}  // namespace

const OptionEntry* FindOption(const OptionEntry* table, const char* word) {
  for (const OptionEntry* e = table; e->name; ++e) {
    if (strcmp(e->name, word) == 0) return e;
  }
  return nullptr;
}

bool IsIntegerText(const char* text) {
  if (*text == '+' || *text == '-') ++text;
  while (*text >= '0' && *text <= '9') ++text;
  return *text == '\0';
}

int ConsumeOption(const OptionEntry* entry, int index, int* argc, char** argv, bool* wasCut) {
  if (wasCut) *wasCut = false;
  int used = 1;
  int ok = 1;
  bool hasValue = index + 1 < *argc;
  switch (entry->type) {
    case kOptionFlag:
      *static_cast<int32_t*>(entry->target) = 1;
      break;
    case kOptionInteger:
      if (hasValue && IsIntegerText(argv[index + 1])) {
        *static_cast<int32_t*>(entry->target) = ParseSaturated(argv[index + 1]);
        used = 2;
      } else {
        ok = 0;
      }
      break;
    case kOptionString:
      if (hasValue && entry->size > 0) {
        char* target = static_cast<char*>(entry->target);
        strncpy(target, argv[index + 1], static_cast<size_t>(entry->size - 1));
        target[entry->size - 1] = '\0';
        if (wasCut) *wasCut = strlen(argv[index + 1]) > static_cast<size_t>(entry->size - 1);
        used = 2;
      } else {
        ok = 0;
      }
      break;
    default:
      ok = 0;
      break;
  }
  RemoveWords(index, used, argc, argv);
  return ok;
}

int ParseOptions(const OptionEntry* table, int* argc, char** argv,
                 std::vector<const OptionEntry*>* cut) {
  if (*argc < 2) return 1;
  int result = 1;
  int index = 1;
  while (index < *argc) {
    if (strcmp(argv[index], "--") == 0) {
      RemoveWords(index, 1, argc, argv);
      return result;
    }
    const OptionEntry* entry = FindOption(table, argv[index]);
    if (!entry) {
      ++index;
      continue;
    }
    bool wasCut = false;
    if (!ConsumeOption(entry, index, argc, argv, &wasCut)) result = 0;
    if (wasCut && cut) cut->push_back(entry);
  }
  return result;
}

void PrintUsage(const char* programName, const char* extraText, const OptionEntry* table) {
  int longest = 0;
  for (const OptionEntry* e = table; e->name; ++e) {
    int len = static_cast<int>(strlen(e->name));
    if (len > longest) longest = len;
  }
  fprintf(stderr, "Usage: %s [options]", programName);
  if (extraText) fprintf(stderr, " %s", extraText);
  fprintf(stderr, "\n");
  for (const OptionEntry* e = table; e->name; ++e) {
    int width = longest + 9 - static_cast<int>(strlen(e->name));
    fprintf(stderr, "  %s%-*s", e->name, width, UsageLabel(e->type));
    if (e->helpText) fprintf(stderr, ": %s", e->helpText);
    fprintf(stderr, "\n");
  }
}
