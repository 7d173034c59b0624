// A small INI library of the program's own, apart from the platform's profile
// functions: a whole file read into a linked model of sections and keys, and
// one entry set in place. The installation uses it to record the printer name
// that the setup program reads.
#pragma once

/// One key line of a section.
struct ProfileKey {
  char key[51];     ///< at most 50 bytes
  char value[201];  ///< at most 200 bytes
  ProfileKey* next;
};

/// One section and its keys, in file order.
struct ProfileSection {
  char name[31];  ///< at most 30 bytes
  ProfileKey* keys;
  ProfileSection* next;
};

/// What one line is.
enum ProfileLineKind {
  kProfileSection = 0,
  kProfileKey = 1,
  kProfileBlank = 2,
  kProfileMalformed = 3
};

/// Classifies a line without its line end: an empty line or one starting
/// with ";" is blank (2); "[...]" is a section header (0); a line with "="
/// anywhere but first is a key line (1); anything else is malformed (3).
int ClassifyProfileLine(const char* line);

/// Reads the file into a model (pieces of at most 255 bytes count as lines;
/// texts cut to their limits, nothing trimmed; comments, blank lines and
/// keys before the first section left out). Returns nullptr when the file
/// is missing, holds no section, or has a malformed line ("profile %s format
/// not support" on standard output).
ProfileSection* ReadProfile(const char* path);

/// Writes the model in place of the file: "[name]" lines, "key=value" lines,
/// one blank line between sections. The file is replaced atomically, never
/// through a link.
void WriteProfile(const char* path, const ProfileSection* profile);

/// Releases every section and key of the model.
void FreeProfile(ProfileSection* profile);

/// Sets key=value in the section (texts cut to their limits): an existing
/// key gets the new value; a new key goes first in its section; a new
/// section goes before all others. Every other line of the file (comments,
/// blank lines, keys before the first section, long values of the settings)
/// stays as it is. A malformed file is left unchanged and the failure is
/// logged. The write takes the settings lock and replaces the file
/// atomically.
void SetProfileString(const char* path, const char* section, const char* key, const char* value);
