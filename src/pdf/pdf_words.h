// Plain scans of PDF text for the tail reader: what counts as white space,
// decimal numbers, and the entries of a dictionary read without building
// it. Only code of the PDF layer includes this header.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// PDF white space (the NUL character among it).
bool IsPdfSpace(char c);

/// Decimal digits only, at most 18 of them (no offset in a file needs more).
bool ParseDigits(const char* text, int length, int64_t* value);

/// True for a word of 1 to 18 decimal digits.
bool IsDigits(const std::string& word);

/// The keys of the dictionary at the start of the text with their values
/// as one word each: a number or name as written, "R" for a reference, "*"
/// for an array, dictionary or string. False for anything a plain scan
/// cannot be sure of (a comment, a stray delimiter, a text that ends first).
bool DictionaryEntries(const std::string& text, std::map<std::string, std::string>* entries);
