// A map-like view of one registry key: CRegistry opens (or creates) a key and
// loads its values, one CRegEntry per value name; assigning to an entry
// writes the value into the registry at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/registry.h"

class CRegistry;

/// One value of a key. Made and owned by its CRegistry.
class CRegEntry {
 public:
  /// The most characters of a name or a text that an entry keeps.
  static constexpr size_t kMaxLength = 2047;

  /// An entry of type 0 (none yet); name nullptr makes an entry that is never written.
  CRegEntry(CRegistry* owner, const char* name);
  virtual ~CRegEntry();
  CRegEntry(const CRegEntry&) = delete;
  CRegEntry& operator=(const CRegEntry&) = delete;

  /// Makes the value REG_SZ. The entry keeps at most kMaxLength characters;
  /// the registry receives the whole text and its terminator.
  CRegEntry& operator=(const char* text);
  CRegEntry& operator=(const std::string& text) { return *this = text.c_str(); }
  /// Makes the value REG_DWORD.
  CRegEntry& operator=(uint32_t number);
  /// Any other whole number is stored as REG_DWORD too (so `= 0` is a number).
  template <typename T, typename = std::enable_if_t<std::is_integral<T>::value>>
  CRegEntry& operator=(T number) {
    return *this = static_cast<uint32_t>(number);
  }

  /// Makes the value REG_BINARY; a size of 0 does nothing at all.
  void SetBinary(const unsigned char* data, uint32_t size);
  /// Makes the value REG_MULTI_SZ from zero-terminated strings packed in data
  /// ("a\0b\0\0" gives a and b); the registry receives the size bytes given.
  void SetMulti(const char* data, uint32_t size);

  const std::string& Name() const { return name_; }
  /// REG_NONE (0), REG_SZ, REG_BINARY, REG_DWORD or REG_MULTI_SZ.
  uint32_t Type() const { return type_; }
  uint32_t Number() const { return number_; }
  /// The text held; "" before the first text assignment.
  const char* Text() const { return text_.c_str(); }
  const std::vector<unsigned char>& Bytes() const { return bytes_; }
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  friend class CRegistry;

  /// Writes the value unless the owner is loading or closed, or the entry has no name.
  void Write(const void* data, uint32_t size);

  std::string name_;
  bool named_;
  uint32_t type_ = REG_NONE;
  CRegistry* owner_;
  uint32_t number_ = 0;
  std::string text_;
  std::vector<unsigned char> bytes_;
  std::vector<std::string> texts_;
};

/// One open registry key and its values.
class CRegistry {
 public:
  /// Open creates the key when it is missing.
  static constexpr uint32_t kCreateKey = 1;
  /// Set while Refresh runs: entries change without writing.
  static constexpr uint32_t kLoading = 8;

  explicit CRegistry(uint32_t flags);
  /// Closes the key and deletes the entries.
  virtual ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  /// Opens (with kCreateKey: creates) path under root and loads its values.
  /// Returns false, with no key open and nothing logged, when that fails.
  bool Open(const char* path, HKEY root, uint32_t access);
  /// Closes the key if open. Entries keep their values; later assignments
  /// change only the entries.
  void Close();
  /// Loads every REG_SZ, REG_BINARY, REG_DWORD and REG_MULTI_SZ value of the
  /// open key into its entry without writing. Values whose name is over 259
  /// characters or whose data is over 2048 bytes are skipped.
  bool Refresh();
  /// The entry of that name (letter case ignored), made when there is none.
  CRegEntry& operator[](const char* name);

  bool IsOpen() const { return key_ != nullptr; }
  uint32_t Flags() const { return flags_; }
  HKEY Root() const { return root_; }
  const std::string& KeyPath() const { return path_; }
  size_t EntryCount() const { return entries_.size(); }

 private:
  friend class CRegEntry;

  HKEY key_ = nullptr;
  uint32_t flags_;
  HKEY root_ = nullptr;
  std::string path_;
  std::vector<std::unique_ptr<CRegEntry>> entries_;
};
