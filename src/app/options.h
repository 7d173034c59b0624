// A small table-driven command-line parser.
#pragma once

#include <cstdint>
#include <vector>

/// How an option's value is read.
enum OptionType : int32_t {
  kOptionFlag = 0,     ///< the word alone; stores 1
  kOptionInteger = 1,  ///< the word and a signed decimal integer
  kOptionString = 3,   ///< the word and a text, cut to size-1 bytes
};

/// One row of an option table; a row with a null name ends the table.
struct OptionEntry {
  const char* name;      ///< the option word, dashes included
  int32_t type;          ///< an OptionType code
  void* target;          ///< int32_t for flags and integers, char buffer for strings
  int32_t size;          ///< size of the string buffer, terminator included
  const char* helpText;  ///< may be null
};

/// Stores the recognised options of argv into their targets and removes
/// them; unrecognised words stay. A lone "--" is removed and ends the parse.
/// The rows whose text value was cut to its buffer are added to *cut.
/// Returns 1 when every recognised option got a valid value, else 0.
int ParseOptions(const OptionEntry* table, int* argc, char** argv,
                 std::vector<const OptionEntry*>* cut = nullptr);

/// Writes the usage text of the table to the standard error stream.
void PrintUsage(const char* programName, const char* extraText, const OptionEntry* table);

/// The first entry whose name equals word (case-sensitive), or null.
const OptionEntry* FindOption(const OptionEntry* table, const char* word);

/// True for an optional sign followed by decimal digits only (also "" and "+").
bool IsIntegerText(const char* text);

/// Stores one option's value and removes its words from argv; *wasCut tells
/// whether a text value was cut to its buffer. Returns 1 on success; on
/// failure only the option word is removed.
int ConsumeOption(const OptionEntry* entry, int index, int* argc, char** argv,
                  bool* wasCut = nullptr);
