// Facts about a PDF file on disk, for checking what an outside program wrote.
#pragma once

/// The number of pages of the PDF file (an empty user password is tried for
/// an encrypted file), or -1 when it cannot be read as a PDF.
int GetPDFFilePageCount(const char* path);
