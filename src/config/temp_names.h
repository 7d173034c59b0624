// Names for temporary files, and the logged delete.
#pragma once

/// A name in the working temporary folder numbered by the "LastFileIndex"
/// counter: folder, separator, "file%06d", extension (".tmp" when null).
/// The counter is taken under the settings lock, and the file is created
/// there, empty, readable by its owner only, so it is this run's own: a
/// number whose name exists in any form (also a dangling symbolic link) is
/// skipped. Returns the name's length; 0 with an empty buffer when size is 0,
/// the name would not fit or the file cannot be created (logged).
int CountedTempFileName(int size, char* buffer, const char* extension);

/// A name in the system's temporary folder made from the platform's unique
/// temporary name, "-", the process id and the extension. The file does not
/// exist on return. Returns the name's length; 0 when it would not fit.
int TempFileName(int size, char* buffer, const char* extension);

/// Logs "DeleteFile: <path>" and deletes the file; null or empty does nothing.
void DeleteFileLogged(const char* path);
