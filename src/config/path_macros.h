// Path macros (%TEMPFOLDER%, %PID%, %APPFOLDER%), the working temporary
// folder and recursive folder creation.
#pragma once

#include <string>

/// Expands the path macros of text and reduces doubled separators. The text
/// is taken over: the caller's copy is left empty.
std::string ExpandPathMacros(std::string& text);

/// Replaces every occurrence of find in text, continuing after each inserted
/// replacement, so the replacement itself is never searched again.
void ReplaceAll(std::string& text, const std::string& find, const std::string& replacement);

/// The working temporary folder: the "TempFolder" setting (expanded, created
/// when missing, used as written) or the system's temporary folder (ending
/// with a separator). Cut to size-1 bytes. Returns buffer.
char* MyGetTempPath(int size, char* buffer);

/// Creates the folder and every missing parent, logging each level.
void CreateDirectoryRecursively(std::string path);
