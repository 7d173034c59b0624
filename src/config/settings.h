// The settings file "config.ini" beside the program. Every read writes the
// value it obtained back, so the file lists every key the program reads.
#pragma once

#include <string>

/// Full path of "config.ini" beside the program.
std::string GetConfigFilePath();

/// Reads a whole number (default when missing or empty) and writes it back.
int ReadSettingInt(const char* section, const char* key, int defaultValue);
/// Writes a whole number with "%d".
int WriteSettingInt(const char* section, const char* key, int value);
/// Reads a text into buffer (cut to size-1 bytes) and writes it back.
/// Returns the number of bytes copied.
int ReadSettingString(const char* section, const char* key, const char* defaultValue, char* buffer,
                      int size);
/// Reads a text setting of section "Options" that must fit a buffer of size
/// bytes (a path). A longer value is never cut, used or written back: it is
/// logged as an error and false returned. Otherwise the value is written
/// back like every read, and true returned.
bool ReadSettingWhole(const char* key, int size, std::string* value);

/// ReadSettingString into a 4096-byte buffer, returned as a text.
std::string ReadSettingText(const char* section, const char* key, const char* defaultValue);

struct CommandOptions;

/// Fills the document information of options (PDF version, producer,
/// creator, subject, title, author, keywords) from the settings, as every
/// run that appends a job does.
void ReadDocumentInformation(CommandOptions* options);
