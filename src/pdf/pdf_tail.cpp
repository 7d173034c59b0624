#include "pdf/pdf_tail.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QUtil.hh>
#include <set>
#include <stdexcept>

#include "pdf/block_input.h"
#include "pdf/pdf_words.h"

namespace {

// How far from the end startxref is looked for, and the longest /Prev chain
// followed (the full rewrite consolidates long before).
const int64_t kTailWindow = 2048;
const int kMaxSections = 100000;
const size_t kMaxTreeDepth = 32;
// The largest /Size taken: one above the highest object number in use.
const long long kMaxObjects = 8388607;
// An xref table entry: 10 digits, blank, 5 digits, blank, n or f, end of line.
const int kEntrySize = 20;
// A table of at most this many entries (every update's) is read whole.
const int64_t kWholeTableEntries = 4096;
const size_t kMaxStreamLength = size_t{256} << 20;

}  // namespace

PdfTail::PdfTail() = default;
PdfTail::~PdfTail() = default;

namespace {

// The marker of a reference: a name byte no writer puts into a name.
const char kReferenceMarker[] = "/\x01R";

}  // namespace

QPDFObjectHandle PdfTail::Reference(int number, int generation) {
  return QPDFObjectHandle::newName(std::string(kReferenceMarker) + std::to_string(number) + "." +
                                   std::to_string(generation));
}

int PdfTail::NumberOf(QPDFObjectHandle handle) {
  if (!handle.isName()) return -1;
  const std::string name = handle.getName();
  if (name.compare(0, sizeof(kReferenceMarker) - 1, kReferenceMarker) != 0) return -1;
  return std::atoi(name.c_str() + sizeof(kReferenceMarker) - 1);
}

std::string PdfTail::Unparse(QPDFObjectHandle object) {
  if (NumberOf(object) >= 0) {
    const std::string name = object.getName();
    std::string text = name.substr(sizeof(kReferenceMarker) - 1);
    text[text.find('.')] = ' ';
    return text + " R";
  }
  std::string out;
  if (object.isArray()) {
    out = "[";
    for (auto& item : object.getArrayAsVector()) out += " " + Unparse(item);
    return out + " ]";
  }
  if (object.isDictionary()) {
    out = "<<";
    for (auto& key : object.getKeys()) {
      out += " " + QPDFObjectHandle::newName(key).unparse() + " " + Unparse(object.getKey(key));
    }
    return out + " >>";
  }
  return object.unparse();
}

namespace {

// Rewrites the tokens of one object into text qpdf parses without a
// document: "N G R" becomes a Reference name.
class ReferenceRewriter {
 public:
  // Takes one token; false once the object is complete.
  bool Take(const QPDFTokenizer::Token& token) {
    auto type = token.getType();
    if (type == QPDFTokenizer::tt_integer) {
      integers_.push_back(token.getValue());
      return true;
    }
    if (type == QPDFTokenizer::tt_word && token.getValue() == "R" && integers_.size() >= 2) {
      int generation = std::atoi(integers_.back().c_str());
      integers_.pop_back();
      int number = std::atoi(integers_.back().c_str());
      integers_.pop_back();
      Flush();
      text_ += PdfTail::Reference(number, generation).unparse() + " ";
    } else {
      Flush();
      if (type == QPDFTokenizer::tt_dict_open || type == QPDFTokenizer::tt_array_open) ++depth_;
      if (type == QPDFTokenizer::tt_dict_close || type == QPDFTokenizer::tt_array_close) --depth_;
      text_ += token.getRawValue() + " ";
    }
    return !(depth_ == 0 && integers_.empty() && !text_.empty());
  }
  // A keyword outside any container ("endobj", "stream") ends a lone value.
  bool EndsValue(const QPDFTokenizer::Token& token) const {
    return token.getType() == QPDFTokenizer::tt_word && depth_ == 0 &&
           !(token.getValue() == "R" && integers_.size() >= 2);
  }
  std::string Text() {
    Flush();
    return text_;
  }

 private:
  void Flush() {
    for (const std::string& integer : integers_) text_ += integer + " ";
    integers_.clear();
  }
  std::string text_;
  std::vector<std::string> integers_;  // the last integers, not yet written
  int depth_ = 0;
};

}  // namespace

// Reads one object from the input's position, turning each "N G R" into a
// Reference, and parses it without a document.
QPDFObjectHandle PdfTail::ParseObject(const std::shared_ptr<InputSource>& input) {
  QPDFTokenizer tokenizer;
  ReferenceRewriter rewriter;
  for (int tokens = 0;; ++tokens) {
    qpdf_offset_t before = input->tell();
    QPDFTokenizer::Token token = tokenizer.readToken(input, path_);
    if (token.getType() == QPDFTokenizer::tt_eof || token.getType() == QPDFTokenizer::tt_bad) {
      throw std::runtime_error("an object is cut short or malformed");
    }
    if (rewriter.EndsValue(token)) {
      input->seek(before, SEEK_SET);
      break;
    }
    if (!rewriter.Take(token)) break;
    if (tokens > 10000000) throw std::runtime_error("an object is too long");
  }
  return QPDFObjectHandle::parse(rewriter.Text(), path_);
}

int PdfTail::Generation(int number) const {
  auto it = generations_.find(number);
  return it == generations_.end() ? 0 : it->second;
}

bool PdfTail::Open(const std::string& path, std::string* why) {
  try {
    path_ = path;
    context_ = QPDF::create();
    context_->setSuppressWarnings(true);
    context_->emptyPDF();
    auto file = std::make_shared<BlockFileInput>(path);
    input_ = file;
    input_->seek(0, SEEK_END);
    fileLength_ = input_->tell();
    // A linearized file's hints describe its first pages; after an update
    // they would mislead a reader that trusts them.
    char head[1024] = {};
    input_->seek(0, SEEK_SET);
    size_t headLength = input_->read(head, sizeof(head) - 1);
    if (std::string(head, headLength).find("/Linearized") != std::string::npos) {
      *why = "it is linearized";
      return false;
    }
    int64_t start = std::max<int64_t>(0, fileLength_ - kTailWindow);
    std::string tail(static_cast<size_t>(fileLength_ - start), '\0');
    input_->seek(start, SEEK_SET);
    tail.resize(input_->read(&tail[0], tail.size()));
    size_t at = tail.rfind("startxref");
    if (at == std::string::npos) {
      *why = "there is no startxref at its end";
      return false;
    }
    size_t digits = tail.find_first_not_of(" \r\n\t\f", at + 9);
    size_t end =
        digits == std::string::npos ? digits : tail.find_first_not_of("0123456789", digits);
    int64_t offset = -1;
    if (digits == std::string::npos || end == digits ||
        !ParseDigits(tail.data() + digits, static_cast<int>(end - digits), &offset) ||
        tail.find("%%EOF", end) == std::string::npos) {
      *why = "its startxref is unreadable";
      return false;
    }
    lastXref_ = offset;
    Section section;
    if (!ReadSection(offset, &section, &trailer_, why)) return false;
    xrefIsStream_ = section.stream;
    sections_[offset] = section;
    if (trailer_.hasKey("/Encrypt")) {
      *why = "it is encrypted";
      return false;
    }
    if (trailer_.hasKey("/XRefStm")) {
      *why = "it has hybrid cross-references";
      return false;
    }
    QPDFObjectHandle size = trailer_.getKey("/Size");
    if (!size.isInteger() || size.getIntValue() < 1 || size.getIntValue() > kMaxObjects ||
        NumberOf(trailer_.getKey("/Root")) < 1) {
      *why = "its trailer has no usable /Size or /Root";
      return false;
    }
    size_ = size.getIntValueAsInt();
    return true;
  } catch (const std::exception& e) {
    *why = std::string("its end cannot be read: ") + e.what();
    return false;
  }
}

bool PdfTail::ReadSection(int64_t offset, Section* section, QPDFObjectHandle* trailer,
                          std::string* why) {
  if (offset <= 0 || offset >= fileLength_) {
    *why = "a cross-reference offset points outside the file";
    return false;
  }
  input_->seek(offset, SEEK_SET);
  char word[4] = {};
  input_->read(word, 4);
  if (std::memcmp(word, "xref", 4) == 0) return ReadTable(section, trailer, why);
  QPDFObjectHandle dictionary;
  return ReadXrefStream(offset, section, trailer ? trailer : &dictionary, why);
}

namespace {

// A subsection's first object number and count, checked before they are
// narrowed, so that no first + count wraps.
bool SubsectionNumbers(const std::string& firstText, const std::string& countText, int* first,
                       int* count) {
  const long long firstNumber = QUtil::string_to_ll(firstText.c_str());
  const long long entries = QUtil::string_to_ll(countText.c_str());
  if (firstNumber < 0 || entries < 0 || firstNumber > kMaxObjects ||
      entries > kMaxObjects - firstNumber) {
    return false;
  }
  *first = static_cast<int>(firstNumber);
  *count = static_cast<int>(entries);
  return true;
}

}  // namespace

bool PdfTail::SkipLineEnd() {
  char c = 0;
  while (input_->read(&c, 1) == 1 && (c == ' ' || c == '\t')) {
  }
  if (c != '\r') return c == '\n';
  if (input_->read(&c, 1) == 1 && c != '\n') input_->unreadCh(c);
  return true;
}

bool PdfTail::ReadTable(Section* section, QPDFObjectHandle* trailer, std::string* why) {
  QPDFTokenizer tokenizer;
  int64_t end = 0;  // one above the highest object number of the section
  for (;;) {
    std::string firstText, countText;
    if (!ReadPlainHeader(&firstText, &countText)) {
      int header = ReadHeaderTokens(&tokenizer, &firstText, &countText);
      if (header == 0) break;  // the trailer
      if (header < 0) {
        *why = "a cross-reference table is malformed";
        return false;
      }
    }
    Subsection sub;
    if (!SubsectionNumbers(firstText, countText, &sub.first, &sub.count)) {
      *why = "a cross-reference subsection's object numbers are out of range";
      return false;
    }
    end = std::max(end, int64_t{sub.first} + sub.count);
    // The entries start after the end of the header's line.
    if (!SkipLineEnd()) {
      *why = "a cross-reference subsection header is malformed";
      return false;
    }
    sub.entries = input_->tell();
    if (sub.entries + int64_t{sub.count} * kEntrySize > fileLength_) {
      *why = "a cross-reference subsection runs past the end of the file";
      return false;
    }
    section->subsections.push_back(sub);
    input_->seek(sub.entries + int64_t{sub.count} * kEntrySize, SEEK_SET);
  }
  int64_t size = -1, prev = -1;
  if (!ReadTrailerNumbers(trailer, &size, &prev, why)) return false;
  // An entry at or above the section's own /Size names an object the file
  // does not have; the next update would number a new object the same.
  if (size < 0 || end > size) {
    *why = "a cross-reference subsection reaches past the trailer's /Size";
    return false;
  }
  section->prev = prev;
  ReadSmallTable(section);
  return true;
}

bool PdfTail::ScanDictionary(std::map<std::string, std::string>* entries) {
  std::string text(static_cast<size_t>(kTailWindow), '\0');
  text.resize(input_->read(&text[0], text.size()));
  return DictionaryEntries(text, entries);
}

bool PdfTail::ScanTrailer(int64_t* size, int64_t* prev) {
  std::map<std::string, std::string> entries;
  if (!ScanDictionary(&entries)) return false;
  for (auto [key, value] : {std::make_pair("/Size", size), std::make_pair("/Prev", prev)}) {
    auto found = entries.find(key);
    *value = -1;
    if (found == entries.end()) continue;
    if (!IsDigits(found->second) ||
        !ParseDigits(found->second.data(), static_cast<int>(found->second.size()), value)) {
      return false;
    }
  }
  return true;
}

namespace {

bool ReadWidths(QPDFObjectHandle trailer, int widths[3], std::string* why) {
  QPDFObjectHandle w = trailer.getKey("/W");
  for (int i = 0; i < 3; ++i) {
    QPDFObjectHandle item = w.isArray() ? w.getArrayItem(i) : QPDFObjectHandle::newNull();
    if (!item.isInteger() || item.getIntValue() < 0 || item.getIntValue() > 8) {
      *why = "a cross-reference stream has a bad /W";
      return false;
    }
    widths[i] = item.getIntValueAsInt();
  }
  return true;
}

bool ReadRanges(QPDFObjectHandle trailer, std::vector<int>* ranges, std::string* why) {
  QPDFObjectHandle index = trailer.getKey("/Index");
  if (!index.isArray()) {
    QPDFObjectHandle size = trailer.getKey("/Size");
    *ranges = {0, size.isInteger() ? size.getIntValueAsInt() : 0};
    return true;
  }
  for (auto& item : index.getArrayAsVector()) {
    if (!item.isInteger()) {
      *why = "a cross-reference stream has a bad /Index";
      return false;
    }
    ranges->push_back(item.getIntValueAsInt());
  }
  return true;
}

// One entry of an xref stream's data at *at; a missing type field means 1.
PdfTail::Entry DecodeEntry(const std::string& data, const int widths[3], size_t* at) {
  int64_t fields[3] = {widths[0] == 0 ? 1 : 0, 0, 0};
  for (int f = 0; f < 3; ++f) {
    if (widths[f] == 0) continue;
    int64_t value = 0;
    for (int b = 0; b < widths[f]; ++b)
      value = (value << 8) | static_cast<unsigned char>(data[(*at)++]);
    fields[f] = value;
  }
  PdfTail::Entry entry;
  entry.type = static_cast<int>(fields[0]);
  entry.field2 = fields[1];
  entry.field3 = static_cast<int>(fields[2]);
  return entry;
}

}  // namespace

bool PdfTail::ReadXrefStream(int64_t offset, Section* section, QPDFObjectHandle* trailer,
                             std::string* why) {
  std::string data;
  if (!ReadAt(offset, -1, trailer, &data, why)) return false;
  if (!trailer->isDictionary() || !trailer->getKey("/Type").isNameAndEquals("/XRef")) {
    *why = "no cross-reference table or stream at its offset";
    return false;
  }
  std::string decoded;
  int widths[3] = {0, 0, 0};
  std::vector<int> ranges;
  if (!DecodeStream(*trailer, data, &decoded, why) || !ReadWidths(*trailer, widths, why) ||
      !ReadRanges(*trailer, &ranges, why)) {
    return false;
  }
  const size_t entrySize = static_cast<size_t>(widths[0]) + static_cast<size_t>(widths[1]) +
                           static_cast<size_t>(widths[2]);
  size_t at = 0;
  for (size_t r = 0; r + 1 < ranges.size(); r += 2) {
    for (int k = 0; k < ranges[r + 1]; ++k) {
      if (entrySize == 0 || at + entrySize > decoded.size()) {
        *why = "a cross-reference stream is shorter than its /Index";
        return false;
      }
      section->entries.emplace(ranges[r] + k, DecodeEntry(decoded, widths, &at));
    }
  }
  section->stream = true;
  QPDFObjectHandle prev = trailer->getKey("/Prev");
  if (prev.isInteger()) section->prev = prev.getIntValue();
  return true;
}

bool PdfTail::DecodeStream(QPDFObjectHandle dict, const std::string& raw, std::string* data,
                           std::string* why) {
  if (!dict.hasKey("/Filter")) {
    *data = raw;
    return true;
  }
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(context_.get());
  stream.replaceStreamData(raw, dict.getKey("/Filter"), dict.getKey("/DecodeParms"));
  std::shared_ptr<Buffer> buffer = stream.getStreamData(qpdf_dl_generalized);
  if (!buffer) {
    *why = "a stream cannot be decoded";
    return false;
  }
  data->assign(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
  return true;
}

// Reads "N G obj", the object and, for a stream, its raw data. number -1
// takes whatever number is there.
bool PdfTail::ReadHeader(int64_t offset, int number, std::string* why) {
  if (offset <= 0 || offset >= fileLength_) {
    *why = "an object's offset points outside the file";
    return false;
  }
  input_->seek(offset, SEEK_SET);
  QPDFTokenizer tokenizer;
  QPDFTokenizer::Token id = tokenizer.readToken(input_, path_);
  QPDFTokenizer::Token gen = tokenizer.readToken(input_, path_);
  QPDFTokenizer::Token obj = tokenizer.readToken(input_, path_);
  if (id.getType() != QPDFTokenizer::tt_integer || gen.getType() != QPDFTokenizer::tt_integer ||
      obj.getType() != QPDFTokenizer::tt_word || obj.getValue() != "obj" ||
      (number >= 0 && QUtil::string_to_ll(id.getValue().c_str()) != number)) {
    *why = "object " + std::to_string(number) + " is not at its offset";
    return false;
  }
  if (number >= 0) {
    generations_[number] = static_cast<int>(QUtil::string_to_ll(gen.getValue().c_str()));
  }
  return true;
}

bool PdfTail::ReadAt(int64_t offset, int number, QPDFObjectHandle* object, std::string* streamData,
                     std::string* why) {
  QPDFTokenizer tokenizer;
  if (!ReadHeader(offset, number, why)) return false;
  *object = ParseObject(input_);
  if (!streamData) return true;
  qpdf_offset_t afterObject = input_->tell();
  QPDFTokenizer::Token keyword = tokenizer.readToken(input_, path_);
  if (keyword.getType() != QPDFTokenizer::tt_word || keyword.getValue() != "stream") {
    input_->seek(afterObject, SEEK_SET);
    streamData->clear();
    return true;
  }
  char c = 0;
  if (input_->read(&c, 1) == 1 && c == '\r') {
    if (input_->read(&c, 1) == 1 && c != '\n') input_->unreadCh(c);
  }
  QPDFObjectHandle length = object->getKey("/Length");
  if (NumberOf(length) > 0) {
    qpdf_offset_t dataStart = input_->tell();
    QPDFObjectHandle resolved;
    if (!ReadObject(NumberOf(length), &resolved, why)) return false;
    length = resolved;
    input_->seek(dataStart, SEEK_SET);
  }
  if (!length.isInteger() || length.getIntValue() < 0 ||
      static_cast<uint64_t>(length.getIntValue()) > kMaxStreamLength ||
      input_->tell() + length.getIntValue() > fileLength_) {
    *why = "a stream has no usable /Length";
    return false;
  }
  streamData->assign(static_cast<size_t>(length.getIntValue()), '\0');
  if (input_->read(&(*streamData)[0], streamData->size()) != streamData->size()) {
    *why = "a stream is cut short";
    return false;
  }
  return true;
}

const PdfTail::Section* PdfTail::SectionAt(int64_t offset, std::string* why) {
  auto it = sections_.find(offset);
  if (it == sections_.end()) {
    Section section;
    if (!ReadSection(offset, &section, nullptr, why)) return nullptr;
    it = sections_.emplace(offset, section).first;
  }
  return &it->second;
}

namespace {

// One 20-byte table entry; false when it is malformed.
bool ParseTableEntry(const char* text, PdfTail::Entry* entry) {
  int64_t field2 = 0, field3 = 0;
  if (!ParseDigits(text, 10, &field2) || text[10] != ' ' || !ParseDigits(text + 11, 5, &field3) ||
      (text[17] != 'n' && text[17] != 'f') || !IsPdfSpace(text[18]) || !IsPdfSpace(text[19])) {
    return false;
  }
  entry->type = text[17] == 'n' ? 1 : 0;
  entry->field2 = field2;
  entry->field3 = static_cast<int>(field3);
  return true;
}

}  // namespace

int PdfTail::ReadHeaderTokens(QPDFTokenizer* tokenizer, std::string* first, std::string* count) {
  QPDFTokenizer::Token firstToken = tokenizer->readToken(input_, path_);
  if (firstToken.getType() == QPDFTokenizer::tt_word && firstToken.getValue() == "trailer") {
    return 0;
  }
  QPDFTokenizer::Token countToken = tokenizer->readToken(input_, path_);
  if (firstToken.getType() != QPDFTokenizer::tt_integer ||
      countToken.getType() != QPDFTokenizer::tt_integer) {
    return -1;
  }
  *first = firstToken.getValue();
  *count = countToken.getValue();
  return 1;
}

bool PdfTail::ReadTrailerNumbers(QPDFObjectHandle* trailer, int64_t* size, int64_t* prev,
                                 std::string* why) {
  // An older section's trailer is only asked for its /Size and /Prev: a
  // scan of its words finds them, and the dictionary is built only when the
  // scan cannot tell.
  qpdf_offset_t at = input_->tell();
  if (!trailer && ScanTrailer(size, prev)) return true;
  input_->seek(at, SEEK_SET);
  QPDFObjectHandle parsed = ParseObject(input_);
  if (!parsed.isDictionary()) {
    *why = "the trailer is not a dictionary";
    return false;
  }
  QPDFObjectHandle sizeKey = parsed.getKey("/Size"), prevKey = parsed.getKey("/Prev");
  *size = sizeKey.isInteger() ? sizeKey.getIntValue() : -1;
  *prev = prevKey.isInteger() ? prevKey.getIntValue() : -1;
  if (trailer) *trailer = parsed;
  return true;
}

bool PdfTail::ReadPlainHeader(std::string* first, std::string* count) {
  qpdf_offset_t at = input_->tell();
  char text[64];
  size_t length = input_->read(text, sizeof(text));
  size_t i = 0;
  auto digits = [&](std::string* number) {
    size_t start = i;
    while (i < length && text[i] >= '0' && text[i] <= '9') ++i;
    number->assign(text + start, i - start);
    return i > start && i < length;
  };
  while (i < length && IsPdfSpace(text[i])) ++i;
  bool plain = digits(first) && text[i] == ' ';
  while (plain && i < length && text[i] == ' ') ++i;
  plain = plain && digits(count) && IsPdfSpace(text[i]);
  input_->seek(plain ? at + static_cast<qpdf_offset_t>(i) : at, SEEK_SET);
  return plain;
}

void PdfTail::ReadSmallTable(Section* section) {
  int64_t total = 0;
  for (const Subsection& sub : section->subsections) total += sub.count;
  if (total > kWholeTableEntries) return;
  std::map<int, Entry> entries;
  for (const Subsection& sub : section->subsections) {
    std::string text(static_cast<size_t>(sub.count) * kEntrySize, '\0');
    input_->seek(sub.entries, SEEK_SET);
    if (input_->read(&text[0], text.size()) != text.size()) return;
    for (int k = 0; k < sub.count; ++k) {
      Entry entry;
      // A malformed entry is left to the look-up that asks for it.
      if (!ParseTableEntry(text.data() + int64_t{k} * kEntrySize, &entry)) return;
      entries.emplace(sub.first + k, entry);  // the first subsection wins, as in TableEntry
    }
  }
  section->entries = std::move(entries);
  section->whole = true;
}

// The entry of a table section: one seek to its fixed 20-byte line.
int PdfTail::TableEntry(const Section& section, int number, Entry* entry, std::string* why) {
  for (const Subsection& sub : section.subsections) {
    if (number < sub.first || number >= sub.first + sub.count) continue;
    char text[kEntrySize];
    input_->seek(sub.entries + int64_t{number - sub.first} * kEntrySize, SEEK_SET);
    if (input_->read(text, kEntrySize) != kEntrySize || !ParseTableEntry(text, entry)) {
      *why = "the cross-reference entry of object " + std::to_string(number) + " is malformed";
      return -1;
    }
    return 1;
  }
  return 0;
}

const PdfTail::Section* PdfTail::WalkTo(int64_t offset, std::set<int64_t>* seen, std::string* why) {
  if (!seen->insert(offset).second || static_cast<int>(seen->size()) > kMaxSections) {
    *why = "the cross-reference sections form a loop";
    return nullptr;
  }
  return SectionAt(offset, why);
}

bool PdfTail::BuildIndex(std::string* why) {
  std::set<int64_t> seen;
  for (int64_t offset = lastXref_; offset > 0;) {
    const Section* section = WalkTo(offset, &seen, why);
    if (!section) return false;
    if (!section->stream && !section->whole) {
      olderFrom_ = offset;
      return true;
    }
    index_.insert(section->entries.begin(), section->entries.end());  // newer ones stay
    offset = section->prev;
  }
  olderFrom_ = 0;
  return true;
}

bool PdfTail::FindEntry(int number, Entry* entry, std::string* why) {
  // Updates add small sections, one each: they are looked up in one index
  // instead of one by one for every object.
  if (!indexed_) {
    std::string indexWhy;
    indexed_ = true;
    if (!BuildIndex(&indexWhy)) {
      index_.clear();
      olderFrom_ = lastXref_;  // the walk below finds the fault again
    }
  }
  auto indexed = index_.find(number);
  if (indexed != index_.end()) {
    *entry = indexed->second;
    return true;
  }
  std::set<int64_t> seen;
  for (int64_t offset = olderFrom_; offset > 0;) {
    const Section* section = WalkTo(offset, &seen, why);
    if (!section) return false;
    if (section->stream || section->whole) {
      auto found = section->entries.find(number);
      if (found != section->entries.end()) {
        *entry = found->second;
        return true;
      }
    } else {
      int found = TableEntry(*section, number, entry, why);
      if (found != 0) return found > 0;
    }
    offset = section->prev;
  }
  entry->type = 0;
  return true;
}

bool PdfTail::ReadObject(int number, QPDFObjectHandle* object, std::string* why) {
  try {
    Entry entry;
    if (number <= 0 || number >= size_ || !FindEntry(number, &entry, why)) {
      if (why->empty()) *why = "object " + std::to_string(number) + " is out of range";
      return false;
    }
    if (entry.type == 1) {
      std::string ignored;
      return ReadAt(entry.field2, number, object, &ignored, why);
    }
    if (entry.type == 2) {
      return ReadFromObjectStream(static_cast<int>(entry.field2), entry.field3, number, object,
                                  why);
    }
    *why = "object " + std::to_string(number) + " is not in use";
    return false;
  } catch (const std::exception& e) {
    *why = "object " + std::to_string(number) + " cannot be read: " + e.what();
    return false;
  }
}

bool PdfTail::ReadFromObjectStream(int stream, int index, int number, QPDFObjectHandle* object,
                                   std::string* why) {
  Entry entry;
  if (stream <= 0 || stream >= size_ || !FindEntry(stream, &entry, why) || entry.type != 1) {
    if (why->empty()) *why = "the object stream of object " + std::to_string(number) + " is lost";
    return false;
  }
  QPDFObjectHandle dict;
  std::string raw, data;
  if (!ReadAt(entry.field2, stream, &dict, &raw, why) || !DecodeStream(dict, raw, &data, why)) {
    return false;
  }
  QPDFObjectHandle count = dict.getKey("/N");
  QPDFObjectHandle first = dict.getKey("/First");
  if (!count.isInteger() || !first.isInteger() || index < 0 || index >= count.getIntValue() ||
      first.getIntValue() < 0 || static_cast<size_t>(first.getIntValue()) > data.size()) {
    *why = "the object stream of object " + std::to_string(number) + " is malformed";
    return false;
  }
  auto header = std::make_shared<BufferInputSource>(path_, data.substr(0, first.getIntValue()));
  QPDFTokenizer tokenizer;
  int64_t offset = -1;
  for (int i = 0; i <= index; ++i) {
    QPDFTokenizer::Token id = tokenizer.readToken(header, path_);
    QPDFTokenizer::Token at = tokenizer.readToken(header, path_);
    if (id.getType() != QPDFTokenizer::tt_integer || at.getType() != QPDFTokenizer::tt_integer) {
      *why = "the object stream of object " + std::to_string(number) + " is malformed";
      return false;
    }
    if (i == index) {
      if (QUtil::string_to_ll(id.getValue().c_str()) != number) {
        *why = "object " + std::to_string(number) + " is not where its entry says";
        return false;
      }
      offset = first.getIntValue() + QUtil::string_to_ll(at.getValue().c_str());
    }
  }
  if (offset < 0 || static_cast<size_t>(offset) >= data.size()) {
    *why = "object " + std::to_string(number) + " lies outside its object stream";
    return false;
  }
  auto body = std::make_shared<BufferInputSource>(path_, data.substr(static_cast<size_t>(offset)));
  *object = ParseObject(body);
  return true;
}

int PdfTail::PageCount(std::string* why) {
  QPDFObjectHandle catalog, pages;
  if (!ReadObject(NumberOf(trailer_.getKey("/Root")), &catalog, why) || !catalog.isDictionary() ||
      !ReadObject(NumberOf(catalog.getKey("/Pages")), &pages, why) || !pages.isDictionary()) {
    if (why->empty()) *why = "its catalog or pages tree is unreadable";
    return -1;
  }
  QPDFObjectHandle count = pages.getKey("/Count");
  if (!count.isInteger() || count.getIntValue() < 0) {
    *why = "its pages tree has no /Count";
    return -1;
  }
  return count.getIntValueAsInt();
}

bool PdfTail::ReadCountedKids(QPDFObjectHandle node, int number, std::vector<Kid>* kids,
                              std::string* why) {
  kids->clear();
  QPDFObjectHandle array = node.getKey("/Kids");
  if (!array.isArray()) {
    *why = "pages-tree node " + std::to_string(number) + " has no /Kids";
    return false;
  }
  long long pages = 0;
  for (auto& item : array.getArrayAsVector()) {
    Kid kid;
    kid.number = NumberOf(item);
    QPDFObjectHandle dict;
    if (kid.number <= 0 || !ReadKid(kid.number, &dict, why)) {
      *why = "a kid of pages-tree node " + std::to_string(number) + " is unreadable" +
             (why->empty() ? std::string() : ": " + *why);
      return false;
    }
    const bool isDict = dict.isDictionary();
    QPDFObjectHandle type = isDict ? dict.getKey("/Type") : QPDFObjectHandle::newNull();
    QPDFObjectHandle count = isDict ? dict.getKey("/Count") : QPDFObjectHandle::newNull();
    if (type.isNameAndEquals("/Page")) {
      ++pages;
    } else if (type.isNameAndEquals("/Pages") && count.isInteger() && count.getIntValue() >= 0) {
      pages += count.getIntValue();
      kid.isNode = true;
      kid.node = dict;
    } else {
      *why = "kid " + std::to_string(kid.number) + " of pages-tree node " + std::to_string(number) +
             " is neither a page nor a pages node";
      return false;
    }
    kids->push_back(kid);
  }
  QPDFObjectHandle count = node.getKey("/Count");
  if (!count.isInteger() || count.getIntValue() != pages) {
    *why = "pages-tree node " + std::to_string(number) + " says /Count " +
           (count.isInteger() ? std::to_string(count.getIntValue()) : std::string("(none)")) +
           ", its kids hold " + std::to_string(pages);
    return false;
  }
  return true;
}

namespace {

// The type and count of a kid whose dictionary a scan read plainly: a page,
// or a pages node with a plain /Count (its /Kids are read when the walk
// goes down into it). A key written with # escapes could name /Type or
// /Count a second time, which only the full parse would see.
bool CountedByScan(const std::map<std::string, std::string>& keys, QPDFObjectHandle* object) {
  for (const auto& entry : keys) {
    if (entry.first.find('#') != std::string::npos) return false;
  }
  auto type = keys.find("/Type");
  if (type == keys.end()) return false;
  if (type->second == "/Page") {
    *object = QPDFObjectHandle::newDictionary({{"/Type", QPDFObjectHandle::newName("/Page")}});
    return true;
  }
  auto count = keys.find("/Count");
  int64_t pages = 0;
  if (type->second != "/Pages" || count == keys.end() || !IsDigits(count->second) ||
      !ParseDigits(count->second.data(), static_cast<int>(count->second.size()), &pages) ||
      pages > std::numeric_limits<int>::max()) {
    return false;
  }
  *object = QPDFObjectHandle::newDictionary({{"/Type", QPDFObjectHandle::newName("/Pages")},
                                             {"/Count", QPDFObjectHandle::newInteger(pages)}});
  return true;
}

}  // namespace

bool PdfTail::ReadKid(int number, QPDFObjectHandle* object, std::string* why) {
  Entry entry;
  try {
    if (number <= 0 || number >= size_ || !FindEntry(number, &entry, why)) {
      return ReadObject(number, object, why);
    }
  } catch (const std::exception&) {
    return ReadObject(number, object, why);
  }
  if (entry.type == 1) {
    auto kept = kids_->find(entry.field2);
    if (kept != kids_->end() && kept->second.first == number) {
      *object = kept->second.second;
      return true;
    }
    // A page, or a pages node off the last branch, is only counted: a scan
    // of its dictionary tells its type and /Count without building it.
    std::map<std::string, std::string> keys;
    std::string ignored;
    try {
      if (ReadHeader(entry.field2, number, &ignored) && ScanDictionary(&keys) &&
          CountedByScan(keys, object)) {
        (*kids_)[entry.field2] = {number, *object};
        return true;
      }
    } catch (const std::exception&) {
      // left to ReadObject, which says why
    }
  }
  if (!ReadObject(number, object, why)) return false;
  if (entry.type == 1) (*kids_)[entry.field2] = {number, *object};
  return true;
}

bool PdfTail::LastBranch(std::vector<int>* nodes, std::string* why) {
  if (!branchRead_) {
    branchOk_ = WalkLastBranch(&branch_, &branchWhy_);
    branchRead_ = true;
  }
  *nodes = branch_;
  if (!branchOk_) *why = branchWhy_;
  return branchOk_;
}

bool PdfTail::WalkLastBranch(std::vector<int>* nodes, std::string* why) {
  nodes->clear();
  QPDFObjectHandle catalog, node;
  if (!ReadObject(NumberOf(trailer_.getKey("/Root")), &catalog, why) || !catalog.isDictionary()) {
    if (why->empty()) *why = "its catalog is unreadable";
    return false;
  }
  int number = NumberOf(catalog.getKey("/Pages"));
  if (!ReadObject(number, &node, why) || !node.isDictionary()) {
    if (why->empty()) *why = "its pages tree is unreadable";
    return false;
  }
  std::vector<Kid> kids;
  for (;;) {
    if (nodes->size() >= kMaxTreeDepth ||
        std::find(nodes->begin(), nodes->end(), number) != nodes->end()) {
      *why = "its pages tree is too deep or has a cycle";
      return false;
    }
    nodes->push_back(number);
    if (!ReadCountedKids(node, number, &kids, why)) return false;
    if (kids.empty() || !kids.back().isNode) return true;
    number = kids.back().number;
    node = kids.back().node;
    // A node that was only counted is read whole to go down into it.
    if (!node.hasKey("/Kids") && (!ReadObject(number, &node, why) || !node.isDictionary())) {
      if (why->empty()) *why = "pages-tree node " + std::to_string(number) + " is unreadable";
      return false;
    }
  }
}
