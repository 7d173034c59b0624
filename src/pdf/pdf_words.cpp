#include "pdf/pdf_words.h"

#include <cstdlib>
#include <cstring>

bool IsPdfSpace(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool ParseDigits(const char* text, int length, int64_t* value) {
  *value = 0;
  if (length > 18) return false;
  for (int i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

bool IsDigits(const std::string& word) {
  return !word.empty() && word.size() <= 18 &&
         word.find_first_not_of("0123456789") == std::string::npos;
}

namespace {

bool IsDelimiter(char c) { return std::strchr("()<>[]{}/%", c) != nullptr; }

// Moves *i past the literal string that starts there; false when it does
// not end within the text.
bool SkipLiteralString(const std::string& text, size_t* i) {
  int open = 0;
  for (; *i < text.size(); ++*i) {
    if (text[*i] == '\\') {
      ++*i;
    } else if (text[*i] == '(') {
      ++open;
    } else if (text[*i] == ')' && --open == 0) {
      ++*i;
      return true;
    }
  }
  return false;
}

// Moves *i past the string, name, number or word that starts there (never
// a bracket); false for anything a plain scan is not sure of: a comment or
// a stray delimiter.
bool SkipWord(const std::string& text, size_t* i) {
  const char c = text[*i];
  if (c == '(') return SkipLiteralString(text, i);
  if (c == '<') {
    size_t close = text.find('>', *i);
    *i = close == std::string::npos ? text.size() : close + 1;
    return close != std::string::npos;
  }
  if (c != '/' && IsDelimiter(c)) return false;
  ++*i;
  while (*i < text.size() && !IsPdfSpace(text[*i]) && !IsDelimiter(text[*i])) ++*i;
  return true;
}

// 2 or 1 for "<<" or "[" at i, -2 or -1 for ">>" or "]", 0 for anything else.
int BracketAt(const std::string& text, size_t i) {
  const char c = text[i];
  const bool pair = i + 1 < text.size() && text[i + 1] == c;
  if (c == '[' || c == ']') return c == '[' ? 1 : -1;
  if (pair && (c == '<' || c == '>')) return c == '<' ? 2 : -2;
  return 0;
}

// One step of DictionaryWords at text[*i]: 1 to go on, 0 at the
// dictionary's end, -1 for what a plain scan is not sure of.
int ScanStep(const std::string& text, size_t* i, int* depth, std::vector<std::string>* words) {
  const char c = text[*i];
  const int bracket = BracketAt(text, *i);
  if (IsPdfSpace(c)) {
    ++*i;
    return 1;
  }
  if (bracket != 0) {
    *i += static_cast<size_t>(std::abs(bracket));
    *depth += bracket > 0 ? 1 : -1;
    if (*depth < 0) return bracket == -2 ? 0 : -1;  // the dictionary's own end
    if (*depth == 0 && bracket < 0) words->push_back("*");
    return 1;
  }
  const size_t start = *i;
  if (!SkipWord(text, i)) return -1;
  if (*depth == 0) words->push_back(c == '(' || c == '<' ? "*" : text.substr(start, *i - start));
  return 1;
}

// The words of the dictionary at the start of the text, at its own level:
// a nested array, dictionary or string is one word "*". False when the text
// ends first or holds anything a plain scan is not sure of.
bool DictionaryWords(const std::string& text, std::vector<std::string>* words) {
  size_t i = text.find_first_not_of(std::string(" \t\r\n\f\0", 6));
  if (i == std::string::npos || text.compare(i, 2, "<<") != 0) return false;
  i += 2;
  int depth = 0;  // of nesting inside the dictionary
  while (i < text.size()) {
    int step = ScanStep(text, &i, &depth, words);
    if (step <= 0) return step == 0;
  }
  return false;
}

}  // namespace

bool DictionaryEntries(const std::string& text, std::map<std::string, std::string>* entries) {
  std::vector<std::string> words;
  if (!DictionaryWords(text, &words)) return false;
  // Keys and values in turn; a value "N G R" is three words.
  for (size_t k = 0; k < words.size();) {
    const std::string& key = words[k];
    if (key.size() < 2 || key[0] != '/' || k + 1 >= words.size()) return false;
    bool reference = k + 3 < words.size() && IsDigits(words[k + 1]) && IsDigits(words[k + 2]) &&
                     words[k + 3] == "R";
    (*entries)[key] = reference ? "R" : words[k + 1];
    k += reference ? 4 : 2;
  }
  return true;
}
