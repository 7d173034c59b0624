// Reads a PDF from its end: the last cross-reference section, the trailer
// and, one by one, the few objects an append touches (the catalog, the pages
// tree along its last branch, the document information), without parsing
// the whole file, so that the cost of an append does not grow with the
// output. Only code of the PDF layer includes this header; no exception
// leaves its functions.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <set>
#include <string>
#include <vector>

class InputSource;
class QPDFTokenizer;

class PdfTail {
 public:
  PdfTail();
  ~PdfTail();
  PdfTail(const PdfTail&) = delete;
  PdfTail& operator=(const PdfTail&) = delete;

  /// Reads the file's last cross-reference section (a table or a stream)
  /// and trailer. False, with *why, for anything an append cannot build on:
  /// no readable startxref, an encrypted or hybrid-reference file, a
  /// linearized one, a section that points outside the file.
  bool Open(const std::string& path, std::string* why);

  const std::string& path() const { return path_; }
  int64_t fileLength() const { return fileLength_; }
  int64_t lastXrefOffset() const { return lastXref_; }
  bool xrefIsStream() const { return xrefIsStream_; }
  /// The trailer dictionary (of the xref stream's dictionary).
  QPDFObjectHandle trailer() const { return trailer_; }
  /// One above the highest object number in use.
  int size() const { return size_; }

  /// The object of that number as a direct object (a stream's dictionary
  /// for a stream) whose references are Reference handles. False with *why
  /// when it cannot be found or read.
  bool ReadObject(int number, QPDFObjectHandle* object, std::string* why);
  /// A cross-reference entry: type 0 free, 1 at offset field2 with
  /// generation field3, 2 in object stream field2 at index field3.
  struct Entry {
    int type = 0;
    int64_t field2 = 0;
    int field3 = 0;
  };
  /// The newest entry of the object along the /Prev chain (type 0 when no
  /// section has it). False with *why for a damaged chain.
  bool FindEntry(int number, Entry* entry, std::string* why);

  /// The generation the object was stored with (0 when unknown).
  int Generation(int number) const;

  /// How objects read here hold a reference "N G R": as a name of a form
  /// no PDF uses, so that they stay plain direct objects.
  static QPDFObjectHandle Reference(int number, int generation);
  /// The number of such a reference; -1 for anything else.
  static int NumberOf(QPDFObjectHandle handle);
  /// The object as PDF text, references written as "N G R".
  static std::string Unparse(QPDFObjectHandle object);

  /// Pages of the document by the /Count of its pages tree's root; -1
  /// with *why when it cannot be read.
  int PageCount(std::string* why);

  /// A kid of a pages-tree node; the dictionary is kept for /Pages kids.
  struct Kid {
    int number = 0;
    bool isNode = false;
    QPDFObjectHandle node;
  };
  /// Reads the kids of a pages-tree node and checks the node's /Count
  /// against the pages they hold by their own word: a /Page kid one, a
  /// /Pages kid its /Count. False with *why for a kid that is neither or
  /// cannot be read, and for a node that miscounts.
  bool ReadCountedKids(QPDFObjectHandle node, int number, std::vector<Kid>* kids, std::string* why);

  /// The numbers of the pages-tree nodes from the root down the last
  /// branch (the nodes an append adds its pages under), each node's /Count
  /// checked by ReadCountedKids. False with *why for a branch that
  /// miscounts, is too deep or cannot be read.
  bool LastBranch(std::vector<int>* nodes, std::string* why);

  /// Takes over what `older`, a reader of the same file before an update
  /// was appended to it, read: its cross-reference sections and the kids
  /// along its last branch. The file's old bytes are unchanged, so nothing
  /// at an offset read there is parsed again, and checking an update costs
  /// what the update added.
  void ShareReadsWith(const PdfTail& older) {
    kids_ = older.kids_;
    sections_.insert(older.sections_.begin(), older.sections_.end());
  }

 private:
  struct Subsection {
    int first = 0;
    int count = 0;
    int64_t entries = 0;  // offset of the first 20-byte entry
  };
  struct Section {
    bool stream = false;
    std::vector<Subsection> subsections;  // table
    // Every entry of a stream, and of a table small enough to be read
    // whole; a larger table's entries are read one by one when asked for.
    std::map<int, Entry> entries;
    bool whole = false;  // entries holds all of the section
    int64_t prev = -1;
  };

  const Section* SectionAt(int64_t offset, std::string* why);
  /// SectionAt for a walk down the /Prev chain, which `seen` keeps from
  /// going round in a loop.
  const Section* WalkTo(int64_t offset, std::set<int64_t>* seen, std::string* why);
  int TableEntry(const Section& section, int number, Entry* entry, std::string* why);
  /// Reads the section at offset; its trailer is built only when asked for.
  bool ReadSection(int64_t offset, Section* section, QPDFObjectHandle* trailer, std::string* why);
  bool ReadTable(Section* section, QPDFObjectHandle* trailer, std::string* why);
  void ReadSmallTable(Section* section);
  /// Reads a subsection's header written plainly ("first count" in digits
  /// and blanks); false, with the input where it was, for anything else
  /// (the word "trailer" among them), which the tokenizer then reads.
  bool ReadPlainHeader(std::string* first, std::string* count);
  /// /Size and /Prev of the trailer at the input's position (-1 for one it
  /// lacks), and the trailer itself when it is asked for.
  bool ReadTrailerNumbers(QPDFObjectHandle* trailer, int64_t* size, int64_t* prev,
                          std::string* why);
  /// The same by the tokenizer: 1 for a header, 0 for the word "trailer",
  /// -1 for anything else.
  int ReadHeaderTokens(QPDFTokenizer* tokenizer, std::string* first, std::string* count);
  /// /Size and /Prev of the trailer dictionary at the input's position (-1
  /// when it has none), read without building it. False for anything a
  /// plain scan cannot be sure of.
  bool ScanTrailer(int64_t* size, int64_t* prev);
  /// The keys of the dictionary at the input's position with their values
  /// as one word each: a number or name as written, "R" for a reference,
  /// "*" for an array, dictionary or string. False for anything a plain
  /// scan cannot be sure of (a comment, a dictionary over 2 KiB, ...).
  bool ScanDictionary(std::map<std::string, std::string>* entries);
  /// Reads past blanks and the end of the line; false when anything else
  /// comes first.
  bool SkipLineEnd();
  bool ReadXrefStream(int64_t offset, Section* section, QPDFObjectHandle* trailer,
                      std::string* why);
  /// Reads "N G obj" at offset (N the number, unless it is -1).
  bool ReadHeader(int64_t offset, int number, std::string* why);
  bool ReadAt(int64_t offset, int number, QPDFObjectHandle* object, std::string* streamData,
              std::string* why);
  bool ReadFromObjectStream(int stream, int index, int number, QPDFObjectHandle* object,
                            std::string* why);
  QPDFObjectHandle ParseObject(const std::shared_ptr<InputSource>& input);
  bool WalkLastBranch(std::vector<int>* nodes, std::string* why);
  /// ReadObject for a kid of a pages-tree node, which is only looked at:
  /// one stored at an offset is parsed once and then kept.
  bool ReadKid(int number, QPDFObjectHandle* object, std::string* why);
  bool DecodeStream(QPDFObjectHandle dict, const std::string& raw, std::string* data,
                    std::string* why);

  std::string path_;
  std::shared_ptr<InputSource> input_;
  std::shared_ptr<QPDF> context_;
  int64_t fileLength_ = 0;
  int64_t lastXref_ = 0;
  bool xrefIsStream_ = false;
  QPDFObjectHandle trailer_;
  int size_ = 0;
  std::map<int64_t, Section> sections_;  // by offset, read on demand
  // The newest entry of every object in the sections read whole from the
  // last one back, built on the first look-up; the search goes on from
  // olderFrom_ (the first section not read whole, or 0) for others.
  bool indexed_ = false;
  std::map<int, Entry> index_;
  int64_t olderFrom_ = 0;
  bool BuildIndex(std::string* why);
  std::map<int, int> generations_;
  // The last branch, read once: the end's reader, the update built on it
  // and the page count all walk it.
  bool branchRead_ = false;
  bool branchOk_ = false;
  std::vector<int> branch_;
  std::string branchWhy_;
  // Kid dictionaries by their offset in the file (see ShareReadsWith).
  using KidsByOffset = std::map<int64_t, std::pair<int, QPDFObjectHandle>>;
  std::shared_ptr<KidsByOffset> kids_ = std::make_shared<KidsByOffset>();
};
