// Facts about a PDF file on disk, for checking what an outside program wrote.
#pragma once

#include <string>

/// The number of pages of the PDF file (an empty user password is tried for
/// an encrypted file), or -1 when it cannot be read as a PDF. On failure
/// *error, when error is not null, receives the reason: qpdf's message (it
/// names the file), or "no file name" for a null or empty path. On success
/// *error is left as it was.
int GetPDFFilePageCount(const char* path, std::string* error = nullptr);

/// The SHA-256 digest of the file's content in hex, or "" when it cannot be
/// read.
std::string GetFileDigest(const char* path);
