// Facts about a PDF file on disk, for checking what an outside program wrote.
#pragma once

/// The number of pages of the PDF file (an empty user password is tried for
/// an encrypted file), or -1 when it cannot be read as a PDF.
int GetPDFFilePageCount(const char* path);

#include <string>

/// The SHA-256 digest of the file's content in hex, or "" when it cannot be
/// read.
std::string GetFileDigest(const char* path);
