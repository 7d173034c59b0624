#include "pdf/incremental_update.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QUtil.hh>
#include <set>
#include <vector>

#include "pdf/pdf_tail.h"
#include "platform/names.h"
#include "platform/platform.h"

namespace {

// A pages-tree node takes at most this many kids, so an append rewrites a
// few short nodes, never a Kids array of the whole document.
const int kMaxKids = 64;
// After this many updates, or once updates are more than a third of the
// file, the whole document is written anew instead.
const int kMaxUpdates = 500;
// Below this many bytes of updates a whole write would save next to nothing.
const int64_t kMinUpdateBytesToConsolidate = 256 * 1024;
// Private trailer entries: updates since the last full write, and the
// file's length after it. Readers ignore entries they do not know.
const char kUpdatesKey[] = "/QuorvelUpdates";
const char kBaseKey[] = "/QuorvelBase";

std::string Ref(int number, int generation) {
  return std::to_string(number) + " " + std::to_string(generation) + " R";
}

// A pages-tree node of the file on the way to its last page.
struct TreeNode {
  int number = 0;
  int generation = 0;
  QPDFObjectHandle dict;
  int Kids() {
    QPDFObjectHandle kids = dict.getKey("/Kids");
    return kids.isArray() ? kids.getArrayNItems() : 0;
  }
  long long Count() {
    QPDFObjectHandle count = dict.getKey("/Count");
    return count.isInteger() ? count.getIntValue() : -1;
  }
};

// A node this update adds above the new pages.
struct NewNode {
  int number = 0;
  std::vector<int> kids;
  long long count = 0;
  std::string parent;
};

class UpdateBuilder {
 public:
  UpdateBuilder(PdfTail& base, QPDF& pages, const IncrementalUpdate& update)
      : base_(base), doc_(pages), update_(update), next_(base.size()) {}

  IncrementalResult Build(std::string* why);
  const std::string& bytes() const { return out_; }

 private:
  bool ReadTreeNode(int number, TreeNode* node, std::string* why);
  bool ReadLastBranch(std::string* why);
  size_t BuildSubtree();
  int AttachSubtree(size_t top, int added);
  bool CollectNewObjects(std::string* why);
  void InsertPages();
  void UpdateInfo();
  bool UpdateVersion(std::string* why);
  void WriteObjects();
  void RedeclareUnchanged();
  void WriteCrossReferences();
  void Serialize(QPDFObjectHandle object, std::string* out);
  void SerializeValue(QPDFObjectHandle object, bool isPage, std::string* out);
  void StartObject(int number, int generation);

  PdfTail& base_;
  QPDF& doc_;
  const IncrementalUpdate& update_;
  int next_;
  std::string out_;
  std::map<int, PdfTail::Entry> entries_;  // of this update's cross-reference section

  QPDFObjectHandle catalog_;
  int catalogNumber_ = 0;
  bool catalogChanged_ = false;
  std::vector<TreeNode> path_;
  std::set<int> changedNodes_;             // indexes into path_
  std::vector<QPDFObjectHandle> objects_;  // the new objects of doc_, in number order
  std::map<QPDFObjGen, int> numbers_;
  std::vector<int> pageNumbers_;
  std::map<int, std::string> pageParent_;
  std::vector<NewNode> newNodes_;
  QPDFObjectHandle info_;
  int infoNumber_ = 0;
  int infoGeneration_ = 0;
};

// Reads a pages-tree node; a node that passes attributes down would pass
// them to the new pages too, so the update does not build on it.
bool UpdateBuilder::ReadTreeNode(int number, TreeNode* node, std::string* why) {
  node->number = number;
  if (!base_.ReadObject(number, &node->dict, why) || !node->dict.isDictionary() ||
      node->Count() < 0) {
    if (why->empty()) *why = "its pages tree is unreadable";
    return false;
  }
  node->generation = base_.Generation(number);
  for (const char* key : {"/Resources", "/MediaBox", "/CropBox", "/Rotate"}) {
    if (node->dict.hasKey(key)) {
      *why = std::string("its pages tree passes ") + key + " down to its pages";
      return false;
    }
  }
  return true;
}

bool UpdateBuilder::ReadLastBranch(std::string* why) {
  catalogNumber_ = PdfTail::NumberOf(base_.trailer().getKey("/Root"));
  if (!base_.ReadObject(catalogNumber_, &catalog_, why) || !catalog_.isDictionary()) {
    if (why->empty()) *why = "its catalog is unreadable";
    return false;
  }
  // The update adds to the /Count of every node on this branch: a node that
  // miscounts would keep its lie, and readers trusting it would not show
  // the new pages.
  std::vector<int> numbers;
  if (!base_.LastBranch(&numbers, why)) return false;
  for (int number : numbers) {
    TreeNode node;
    if (!ReadTreeNode(number, &node, why)) return false;
    path_.push_back(node);
  }
  return true;
}

bool UpdateBuilder::CollectNewObjects(std::string* why) {
  QPDFObjectHandle root = doc_.getRoot();
  if (root.hasKey("/AcroForm")) {
    *why = "the new pages bring form fields";
    return false;
  }
  std::set<QPDFObjGen> excluded{root.getObjGen(), root.getKey("/Pages").getObjGen()};
  std::vector<QPDFObjectHandle> stack;
  auto visit = [&](QPDFObjectHandle item) {
    if (!item.isIndirect()) {
      stack.push_back(item);
      return;
    }
    QPDFObjGen og = item.getObjGen();
    if (excluded.count(og) || numbers_.count(og)) return;
    numbers_[og] = next_++;
    objects_.push_back(item);
    stack.push_back(item);
  };
  for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(doc_).getAllPages()) {
    QPDFObjectHandle object = page.getObjectHandle();
    visit(object);
    pageNumbers_.push_back(numbers_[object.getObjGen()]);
  }
  while (!stack.empty()) {
    QPDFObjectHandle item = stack.back();
    stack.pop_back();
    QPDFObjectHandle dict = item.isStream() ? item.getDict() : item;
    if (dict.isArray()) {
      for (auto& element : dict.getArrayAsVector()) visit(element);
    } else if (dict.isDictionary()) {
      bool isPage = dict.getKey("/Type").isNameAndEquals("/Page");
      for (auto& key : dict.getKeys()) {
        if (!(isPage && key == "/Parent")) visit(dict.getKey(key));
      }
    }
  }
  if (pageNumbers_.empty()) {
    *why = "there are no new pages";
    return false;
  }
  return true;
}

// New nodes of at most kMaxKids kids above the new pages, up to one;
// returns that one's index in newNodes_.
size_t UpdateBuilder::BuildSubtree() {
  std::vector<int> level = pageNumbers_;
  std::vector<long long> counts(level.size(), 1);
  bool pagesLevel = true;
  do {
    std::vector<int> up;
    std::vector<long long> upCounts;
    for (size_t i = 0; i < level.size(); i += kMaxKids) {
      NewNode node;
      node.number = next_++;
      for (size_t k = i; k < std::min(level.size(), i + kMaxKids); ++k) {
        node.kids.push_back(pagesLevel ? level[k]
                                       : newNodes_[static_cast<size_t>(level[k])].number);
        node.count += counts[k];
        std::string& parent =
            pagesLevel ? pageParent_[level[k]] : newNodes_[static_cast<size_t>(level[k])].parent;
        parent = Ref(node.number, 0);
      }
      up.push_back(static_cast<int>(newNodes_.size()));
      upCounts.push_back(node.count);
      newNodes_.push_back(node);
    }
    level = up;
    counts = upCounts;
    pagesLevel = false;
  } while (level.size() > 1);
  return static_cast<size_t>(level[0]);
}

// Hangs the new subtree under the deepest node on the last branch that has
// room; when every one is full, under a new root above the old one. Returns
// the index of the node it hangs under in path_, or -1 for a new root.
int UpdateBuilder::AttachSubtree(size_t top, int added) {
  int attach = static_cast<int>(path_.size()) - 1;
  while (attach >= 0 && path_[static_cast<size_t>(attach)].Kids() >= kMaxKids) --attach;
  if (attach >= 0) {
    TreeNode& host = path_[static_cast<size_t>(attach)];
    QPDFObjectHandle kids = host.dict.getKey("/Kids");
    kids.appendItem(PdfTail::Reference(newNodes_[top].number, 0));
    host.dict.replaceKey("/Kids", kids);
    newNodes_[top].parent = Ref(host.number, host.generation);
    return attach;
  }
  NewNode root;
  root.number = next_++;
  // The old root keeps its generation (a negative kid is an old object).
  root.kids = {-path_[0].number, newNodes_[top].number};
  root.count = path_[0].Count() + added;
  path_[0].dict.replaceKey("/Parent", PdfTail::Reference(root.number, 0));
  changedNodes_.insert(0);
  newNodes_[top].parent = Ref(root.number, 0);
  catalog_.replaceKey("/Pages", PdfTail::Reference(root.number, 0));
  catalogChanged_ = true;
  newNodes_.push_back(root);
  return -1;
}

void UpdateBuilder::InsertPages() {
  const int added = static_cast<int>(pageNumbers_.size());
  TreeNode& leaf = path_.back();
  int counted = static_cast<int>(path_.size()) - 1;  // the nodes whose /Count grows: 0..counted
  if (leaf.Kids() + added <= kMaxKids) {
    QPDFObjectHandle kids = leaf.dict.getKey("/Kids");
    if (!kids.isArray()) kids = QPDFObjectHandle::newArray();
    for (int number : pageNumbers_) {
      kids.appendItem(PdfTail::Reference(number, 0));
      pageParent_[number] = Ref(leaf.number, leaf.generation);
    }
    leaf.dict.replaceKey("/Kids", kids);
  } else {
    counted = AttachSubtree(BuildSubtree(), added);
  }
  for (int i = 0; i <= counted; ++i) {
    TreeNode& node = path_[static_cast<size_t>(i)];
    node.dict.replaceKey("/Count", QPDFObjectHandle::newInteger(node.Count() + added));
    changedNodes_.insert(i);
  }
}

// The document information is this run's, as a whole write makes it: a new
// dictionary, under the old one's number when there is one.
void UpdateBuilder::UpdateInfo() {
  if (update_.info.empty()) return;
  infoNumber_ = PdfTail::NumberOf(base_.trailer().getKey("/Info"));
  PdfTail::Entry entry;
  std::string ignored;
  if (infoNumber_ > 0 && base_.FindEntry(infoNumber_, &entry, &ignored) && entry.type != 0) {
    infoGeneration_ = entry.type == 1 ? entry.field3 : 0;
  } else {
    infoNumber_ = next_++;
  }
  info_ = QPDFObjectHandle::newDictionary();
  for (const auto& entry : update_.info) {
    info_.replaceKey(entry.first, QPDFObjectHandle::newUnicodeString(entry.second));
  }
}

bool UpdateBuilder::UpdateVersion(std::string* why) {
  std::ifstream file(base_.path(), std::ios::binary);
  char header[16] = {};
  file.read(header, sizeof(header) - 1);
  int major = 0, minor = 0;
  if (std::sscanf(header, "%%PDF-%d.%d", &major, &minor) != 2) {
    *why = "its header has no version";
    return false;
  }
  PDFVersion current(major, minor);
  QPDFObjectHandle stated = catalog_.getKey("/Version");
  if (stated.isName() && std::sscanf(stated.getName().c_str(), "/%d.%d", &major, &minor) == 2) {
    current.updateIfGreater(PDFVersion(major, minor));
  }
  // An update cannot lower the header's version; the whole write keeps the
  // highest one as well.
  const PDFVersion& target = update_.version;
  if (current < target) {
    std::string text;
    int extension = 0;
    target.getVersion(text, extension);
    catalog_.replaceKey("/Version", QPDFObjectHandle::newName("/" + text));
    catalogChanged_ = true;
  }
  return true;
}

void UpdateBuilder::StartObject(int number, int generation) {
  entries_[number] = {1, base_.fileLength() + static_cast<int64_t>(out_.size()), generation};
  out_ += std::to_string(number) + " " + std::to_string(generation) + " obj\n";
}

// Writes a reference with the numbers of this update; references to
// anything outside it become null.
void UpdateBuilder::Serialize(QPDFObjectHandle object, std::string* out) {
  if (!object.isIndirect()) {
    SerializeValue(object, false, out);
    return;
  }
  auto found = numbers_.find(object.getObjGen());
  *out += found == numbers_.end() ? std::string("null") : Ref(found->second, 0);
}

// Writes an object's value; a page's /Parent is left out (the caller
// writes it).
void UpdateBuilder::SerializeValue(QPDFObjectHandle object, bool isPage, std::string* out) {
  if (object.isArray()) {
    *out += "[";
    for (auto& item : object.getArrayAsVector()) {
      *out += " ";
      Serialize(item, out);
    }
    *out += " ]";
  } else if (object.isDictionary()) {
    *out += "<<";
    for (auto& key : object.getKeys()) {
      if (isPage && key == "/Parent") continue;
      *out += " " + QPDFObjectHandle::newName(key).unparse() + " ";
      Serialize(object.getKey(key), out);
    }
    *out += " >>";
  } else {
    *out += object.unparseResolved();
  }
}

void UpdateBuilder::WriteObjects() {
  for (QPDFObjectHandle& object : objects_) {
    int number = numbers_[object.getObjGen()];
    StartObject(number, 0);
    if (object.isStream()) {
      std::shared_ptr<Buffer> raw = object.getRawStreamData();
      QPDFObjectHandle dict = object.getDict().shallowCopy();
      dict.replaceKey("/Length",
                      QPDFObjectHandle::newInteger(static_cast<long long>(raw->getSize())));
      dict.removeKey("/DL");
      SerializeValue(dict, false, &out_);
      out_ += "\nstream\n";
      out_.append(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
      out_ += "\nendstream";
    } else {
      bool isPage =
          std::find(pageNumbers_.begin(), pageNumbers_.end(), number) != pageNumbers_.end();
      SerializeValue(object, isPage, &out_);
      if (isPage) out_.insert(out_.size() - 2, "/Parent " + pageParent_[number] + " ");
    }
    out_ += "\nendobj\n";
  }
  for (const NewNode& node : newNodes_) {
    StartObject(node.number, 0);
    out_ += "<< /Type /Pages /Kids [";
    for (int kid : node.kids) {
      out_ += " " + (kid < 0 ? Ref(-kid, base_.Generation(-kid)) : Ref(kid, 0));
    }
    out_ += " ] /Count " + std::to_string(node.count);
    if (!node.parent.empty()) out_ += " /Parent " + node.parent;
    out_ += " >>\nendobj\n";
  }
  for (int index : changedNodes_) {
    TreeNode& node = path_[static_cast<size_t>(index)];
    StartObject(node.number, node.generation);
    out_ += PdfTail::Unparse(node.dict) + "\nendobj\n";
  }
  if (catalogChanged_) {
    StartObject(catalogNumber_, base_.Generation(catalogNumber_));
    out_ += PdfTail::Unparse(catalog_) + "\nendobj\n";
  }
  if (infoNumber_ > 0 && !update_.info.empty()) {
    StartObject(infoNumber_, infoGeneration_);
    out_ += PdfTail::Unparse(info_) + "\nendobj\n";
  }
}

// The new trailer: the old one's entries, the new /Size and /Prev, the
// document information, a new second /ID part and the update count.
using EntryIt = std::map<int, PdfTail::Entry>::const_iterator;

// Calls write(first, count, from, to) for each run of consecutive object
// numbers, as a cross-reference section groups them.
template <typename Write>
void ForEachRun(const std::map<int, PdfTail::Entry>& entries, Write write) {
  for (EntryIt it = entries.begin(); it != entries.end();) {
    EntryIt end = it;
    int count = 0;
    while (end != entries.end() && end->first == it->first + count) {
      ++end;
      ++count;
    }
    write(it->first, count, it, end);
    it = end;
  }
}

std::string RandomBytes() {
  std::string bytes(16, '\0');
  QUtil::initializeWithRandomBytes(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size());
  return bytes;
}

QPDFObjectHandle NewTrailer(PdfTail& base, int size, int infoNumber, int infoGeneration,
                            bool staticId) {
  QPDFObjectHandle trailer = QPDFObjectHandle::newDictionary();
  for (const char* key : {"/Root", "/Info", "/ID"}) {
    if (base.trailer().hasKey(key)) trailer.replaceKey(key, base.trailer().getKey(key));
  }
  trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(size));
  trailer.replaceKey("/Prev", QPDFObjectHandle::newInteger(base.lastXrefOffset()));
  if (infoNumber > 0) {
    trailer.replaceKey("/Info", PdfTail::Reference(infoNumber, infoGeneration));
  }
  QPDFObjectHandle id = base.trailer().getKey("/ID");
  std::string first = id.isArray() && id.getArrayItem(0).isString()
                          ? id.getArrayItem(0).getStringValue()
                          : RandomBytes();
  std::string second = staticId ? first : RandomBytes();
  trailer.replaceKey("/ID", QPDFObjectHandle::newArray({QPDFObjectHandle::newString(first),
                                                        QPDFObjectHandle::newString(second)}));
  QPDFObjectHandle updates = base.trailer().getKey(kUpdatesKey);
  QPDFObjectHandle baseLength = base.trailer().getKey(kBaseKey);
  trailer.replaceKey(kUpdatesKey, QPDFObjectHandle::newInteger(
                                      updates.isInteger() ? updates.getIntValue() + 1 : 1));
  trailer.replaceKey(kBaseKey,
                     QPDFObjectHandle::newInteger(baseLength.isInteger() ? baseLength.getIntValue()
                                                                         : base.fileLength()));
  return trailer;
}

// The objects every append reads but this one leaves alone (the catalog,
// the pages-tree nodes above the new pages) get their entries again in this
// section, so the next append finds them here instead of walking back
// through every earlier section.
void UpdateBuilder::RedeclareUnchanged() {
  std::vector<int> numbers;
  if (!catalogChanged_) numbers.push_back(catalogNumber_);
  for (size_t i = 0; i < path_.size(); ++i) {
    if (!changedNodes_.count(static_cast<int>(i))) numbers.push_back(path_[i].number);
  }
  for (int number : numbers) {
    PdfTail::Entry entry;
    std::string ignored;
    if (entries_.count(number) || !base_.FindEntry(number, &entry, &ignored)) continue;
    // A table cannot say that an object lies in an object stream.
    if (entry.type == 1 || (entry.type == 2 && base_.xrefIsStream())) entries_[number] = entry;
  }
}

void UpdateBuilder::WriteCrossReferences() {
  RedeclareUnchanged();
  const int64_t start = base_.fileLength() + static_cast<int64_t>(out_.size());
  if (!base_.xrefIsStream()) {
    out_ += "xref\n";
    ForEachRun(entries_, [&](int first, int count, EntryIt from, EntryIt to) {
      out_ += std::to_string(first) + " " + std::to_string(count) + "\n";
      for (EntryIt it = from; it != to; ++it) {
        char entry[32];
        std::snprintf(entry, sizeof(entry), "%010lld %05d n \n",
                      static_cast<long long>(it->second.field2), it->second.field3);
        out_ += entry;
      }
    });
    QPDFObjectHandle trailer =
        NewTrailer(base_, next_, infoNumber_, infoGeneration_, update_.staticId);
    out_ += "trailer\n" + PdfTail::Unparse(trailer) + "\nstartxref\n" + std::to_string(start) +
            "\n%%EOF\n";
    return;
  }
  // A cross-reference stream, itself the last object: entries of a type
  // byte, 8 bytes of offset or stream number and 2 of generation or index.
  const int self = next_++;
  entries_[self] = {1, start, 0};
  std::string data, index;
  ForEachRun(entries_, [&](int first, int count, EntryIt from, EntryIt to) {
    index += " " + std::to_string(first) + " " + std::to_string(count);
    for (EntryIt it = from; it != to; ++it) {
      data += static_cast<char>(it->second.type);
      for (int shift = 56; shift >= 0; shift -= 8) {
        data += static_cast<char>((it->second.field2 >> shift) & 0xFF);
      }
      data += static_cast<char>((it->second.field3 >> 8) & 0xFF);
      data += static_cast<char>(it->second.field3 & 0xFF);
    }
  });
  QPDFObjectHandle dict = NewTrailer(base_, next_, infoNumber_, infoGeneration_, update_.staticId);
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XRef"));
  dict.replaceKey("/W", QPDFObjectHandle::parse("[1 8 2]"));
  dict.replaceKey("/Index", QPDFObjectHandle::parse("[" + index + " ]"));
  dict.replaceKey("/Length", QPDFObjectHandle::newInteger(static_cast<long long>(data.size())));
  out_ += std::to_string(self) + " 0 obj\n" + PdfTail::Unparse(dict) + "\nstream\n" + data +
          "\nendstream\nendobj\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
}

IncrementalResult UpdateBuilder::Build(std::string* why) {
  *why = UpdateRefusal(base_);
  if (!why->empty()) return IncrementalResult::kNotPossible;
  if (!ReadLastBranch(why) || !CollectNewObjects(why) || !UpdateVersion(why)) {
    return IncrementalResult::kNotPossible;
  }
  UpdateInfo();
  InsertPages();
  out_ = "\n";
  WriteObjects();
  WriteCrossReferences();
  return IncrementalResult::kAppended;
}

std::string FolderOf(const std::string& path) {
  std::string folder = platform::DirName(path);
  return folder.empty() ? std::string(".") : folder;
}

}  // namespace

std::string AppendRecordPath(const std::string& path) { return path + ".appending"; }

std::string UpdateRefusal(PdfTail& base) {
  QPDFObjectHandle updates = base.trailer().getKey(kUpdatesKey);
  QPDFObjectHandle baseLength = base.trailer().getKey(kBaseKey);
  if (updates.isInteger() && updates.getIntValue() >= kMaxUpdates) {
    return "it has had " + std::to_string(kMaxUpdates) + " updates; it is written anew";
  }
  const int64_t updateBytes =
      baseLength.isInteger() ? base.fileLength() - baseLength.getIntValue() : 0;
  if (updateBytes > kMinUpdateBytesToConsolidate && updateBytes * 3 > base.fileLength()) {
    return "its updates are over a third of it; it is written anew";
  }
  return std::string();
}

IncrementalResult AppendIncrementally(PdfTail& base, QPDF& pages, const IncrementalUpdate& update,
                                      std::string* why) {
  std::string bytes;
  try {
    UpdateBuilder builder(base, pages, update);
    if (builder.Build(why) != IncrementalResult::kAppended) return IncrementalResult::kNotPossible;
    bytes = builder.bytes();
  } catch (const std::exception& e) {
    *why = std::string("the update cannot be built: ") + e.what();
    return IncrementalResult::kNotPossible;
  }
  const std::string& path = base.path();
  if (platform::FileSize(path) != base.fileLength()) {
    *why = "it changed while the update was made";
    return IncrementalResult::kNotPossible;
  }
  const std::string record = AppendRecordPath(path);
  std::string error;
  // The atomic write makes the record's name durable with its folder.
  if (!platform::WriteFileAtomically(record, std::to_string(base.fileLength()) + "\n", &error)) {
    platform::DeleteFile(record);
    *why = "the record of its length cannot be written: " + error;
    return IncrementalResult::kNotPossible;
  }
  if (!platform::AppendAndSync(path, bytes, &error)) {
    *why = "the update cannot be written: " + error;
    bool recovered = false;
    std::string ignored;
    RecoverInterruptedAppend(path, &recovered, &ignored);
    return IncrementalResult::kFailed;
  }
  // The record must be gone from the disk before anyone counts the pages as
  // delivered, or a crash could bring it back and cut a delivered job off.
  if (!platform::DeleteFile(record, &error) || !platform::SyncFolder(FolderOf(path), &error)) {
    *why = "the record of its length cannot be removed: " + error;
    bool recovered = false;
    std::string ignored;
    RecoverInterruptedAppend(path, &recovered, &ignored);
    return IncrementalResult::kFailed;
  }
  return IncrementalResult::kAppended;
}

namespace {

// Reads up to size bytes of the file from offset.
std::string ReadAt(const std::string& path, long long offset, size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string part(size, '\0');
  if (!in.seekg(offset)) return std::string();
  in.read(&part[0], static_cast<std::streamsize>(size));
  part.resize(static_cast<size_t>(in.gcount()));
  return part;
}

// Why the first `length` bytes of the file are not a complete PDF (its
// last "%%EOF" after a startxref that points at a cross-reference section),
// or "" when they are. Only such a length can be an earlier end of it.
std::string NotAnEarlierEnd(const std::string& path, long long length) {
  int64_t size = platform::FileSize(path);
  if (size < 0) return "the file is not there";
  if (length < 32 || length > size) {
    return "it holds " + std::to_string(length) + " bytes, the file " + std::to_string(size);
  }
  const size_t kTail = 1024;
  long long from = std::max(0LL, length - static_cast<long long>(kTail));
  std::string tail = ReadAt(path, from, static_cast<size_t>(length - from));
  size_t end = tail.find_last_not_of(" \t\r\n\f");
  if (end == std::string::npos || end < 4 || tail.compare(end - 4, 5, "%%EOF") != 0) {
    return "the file does not end with \"%%EOF\" there";
  }
  size_t keyword = tail.rfind("startxref", end);
  long long xref = -1;
  if (keyword == std::string::npos || std::sscanf(tail.c_str() + keyword + 9, "%lld", &xref) != 1 ||
      xref <= 0 || xref >= from + static_cast<long long>(keyword)) {
    return "no valid startxref precedes its \"%%EOF\"";
  }
  std::string section = ReadAt(path, xref, 64);
  unsigned number = 0, generation = 0;
  char obj[4] = "";
  bool table = section.compare(0, 4, "xref") == 0;
  bool stream = std::sscanf(section.c_str(), "%u %u %3s", &number, &generation, obj) == 3 &&
                std::string(obj) == "obj";
  if (!table && !stream) return "its startxref does not point at a cross-reference section";
  return std::string();
}

}  // namespace

bool RecoverInterruptedAppend(const std::string& path, bool* recovered, std::string* why) {
  *recovered = false;
  const std::string record = AppendRecordPath(path);
  std::string text, distrust;
  platform::Trust trust = platform::ReadOwnRecord(record, path, &text, &distrust);
  if (trust == platform::Trust::kMissing) return true;
  if (trust == platform::Trust::kUnreadable) {
    *why = "the record \"" + record + "\" cannot be read: " + distrust;
    return false;
  }
  long long length = -1;
  if (trust == platform::Trust::kTrusted) {
    size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    bool number =
        digits > 0 && digits <= 18 && text.find_first_not_of("\r\n", digits) == std::string::npos;
    distrust =
        number ? NotAnEarlierEnd(path, std::stoll(text.substr(0, digits))) : "it holds no length";
    if (number && distrust.empty()) length = std::stoll(text.substr(0, digits));
  }
  // A record that another account could have planted, or one that names no
  // earlier end of the file, must never cut the file.
  if (length < 0) {
    std::string aside, error;
    if (!platform::SetFileAside(record, ".untrusted", &aside, &error)) {
      *why = "the record \"" + record + "\" is not believed (" + distrust +
             ") and cannot be set aside: " + error;
      return false;
    }
    *why = "the record \"" + record + "\" is not believed (" + distrust +
           "); it was set aside as \"" + aside + "\" and \"" + path + "\" is left as it is";
    return true;
  }
  *recovered = true;
  int64_t size = platform::FileSize(path);
  std::string error;
  if (size > length && !platform::TruncateFile(path, length, &error)) {
    *why = "\"" + path + "\" cannot be cut back to " + std::to_string(length) + " bytes: " + error;
    return false;
  }
  if (!platform::DeleteFile(record, &error) || !platform::SyncFolder(FolderOf(path), &error)) {
    *why = "the record \"" + record + "\" cannot be removed: " + error;
    return false;
  }
  return true;
}
