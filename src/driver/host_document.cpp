#include "driver/host_document.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "driver/expat_parser.h"
#include "driver/xml_text.h"

// Older parsers have no limit on entity expansion: a few hundred bytes could then take all memory.
static_assert(XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4),
              "expat 2.4 or later is needed (limits on entity expansion)");

namespace velquora::driver {

namespace {

constexpr std::string_view kAttrNames[kHostAttrCount] = {"PLU",
                                                         "Code",
                                                         "EANData",
                                                         "Name",
                                                         "GroupCode",
                                                         "Price",
                                                         "SellByDate",
                                                         "SellByTime",
                                                         "UsedByDate",
                                                         "PackedDate",
                                                         "PackedTime",
                                                         "PLUTare",
                                                         "IsWeightGoods",
                                                         "Description",
                                                         "SpecMessage",
                                                         "F1",
                                                         "F2",
                                                         "F3",
                                                         "F4",
                                                         "ImageNumber",
                                                         "DateTime"};

// The index of a name the driver reads, or kHostAttrCount for any other.
std::size_t AttrIndex(const char* name) {
  std::size_t length = std::strlen(name);
  for (std::size_t i = 0; i < kHostAttrCount; ++i) {
    const std::string_view known = kAttrNames[i];
    if (known.size() == length && known[0] == name[0] && known == std::string_view(name, length))
      return i;
  }
  return kHostAttrCount;
}

bool IsRecordName(const char* name) {
  static constexpr char kRecord[] = "record";
  for (std::size_t i = 0; i < 6; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kRecord[i]) return false;
  }
  return name[6] == '\0';
}

}  // namespace

// Collects the document as the parser reports it.
struct HostDocumentBuilder {
  template <typename Feed>
  static HostDocument Read(std::size_t text_bytes, std::size_t elements, Feed feed,
                           const HostDocument::RecordHandler* each = nullptr);

  XML_Parser parser = nullptr;
  HostDocument doc;
  std::size_t depth = 0;
  std::string refusal;  // why the document was refused when the parser itself found no fault
  // ParseRecords: where each record goes instead of the document.
  const HostDocument::RecordHandler* each = nullptr;
  bool handing = true;     // `each` still wants records
  std::size_t handed = 0;  // records read so far
  std::exception_ptr failure;

  void Refuse(std::string why) {
    if (refusal.empty()) refusal = std::move(why);
    XML_StopParser(parser, XML_FALSE);
  }

  void Keep(std::size_t first_slot, const char** atts) {
    for (; atts[0]; atts += 2) {
      std::size_t index = AttrIndex(atts[0]);
      if (index == kHostAttrCount) continue;
      std::size_t size = std::strlen(atts[1]);
      if (doc.values_.size() + size >= HostDocument::kNotGiven) {
        Refuse("слишком большой документ");
        return;
      }
      HostDocument::Slot& slot = doc.slots_[first_slot + index];
      slot.offset = static_cast<std::uint32_t>(doc.values_.size());
      slot.size = static_cast<std::uint32_t>(size);
      doc.values_.append(atts[1], size);
    }
  }

  static void OnStart(void* data, const char* name, const char** atts) {
    auto* b = static_cast<HostDocumentBuilder*>(data);
    ++b->depth;
    if (b->depth == 1) {
      b->doc.root_name_ = name;
      b->Keep(0, atts);
      b->root_values = b->doc.values_.size();
      b->root_slots.assign(b->doc.slots_.begin(), b->doc.slots_.begin() + kHostAttrCount);
    } else if (b->depth == 2 && IsRecordName(name) && b->each) {
      b->Hand(atts);
    } else if (b->depth == 2 && IsRecordName(name)) {
      std::size_t first = b->doc.slots_.size();
      b->doc.slots_.resize(first + kHostAttrCount);
      b->doc.lines_.push_back(static_cast<std::uint32_t>(XML_GetCurrentLineNumber(b->parser)));
      b->Keep(first, atts);
    }
  }
  // The record replaces the one before it in the document and goes to `each`; nothing is thrown
  // through the parser, which is C: a failure is kept and thrown once the parser has returned.
  void Hand(const char** atts) {
    const std::size_t index = handed++;
    if (!handing) return;
    try {
      doc.values_.resize(root_values);
      doc.slots_.assign(2 * kHostAttrCount, HostDocument::Slot{});
      Keep(kHostAttrCount, atts);
      // The root's slots are kept as they were read.
      std::copy(root_slots.begin(), root_slots.end(), doc.slots_.begin());
      const auto line = static_cast<std::uint32_t>(XML_GetCurrentLineNumber(parser));
      handing = (*each)(doc.Record(0), index, line);
    } catch (...) {
      failure = std::current_exception();
      handing = false;
      XML_StopParser(parser, XML_FALSE);
    }
  }
  std::size_t root_values = 0;
  std::vector<HostDocument::Slot> root_slots;

  static void OnEnd(void* data, const char*) { --static_cast<HostDocumentBuilder*>(data)->depth; }

  // Never loaded: neither files nor the network are anything a host document may point at.
  static int OnExternalEntity(XML_Parser parser, const char*, const char*, const char* system_id,
                              const char*) {
    auto* b = static_cast<HostDocumentBuilder*>(XML_GetUserData(parser));
    b->Refuse(std::string("внешние сущности не загружаются (") + (system_id ? system_id : "") +
              ")");
    return XML_STATUS_ERROR;
  }
  // A reference the parser could not expand, possible only beside a declaration it did not read.
  static void OnSkippedEntity(void* data, const char* name, int) {
    static_cast<HostDocumentBuilder*>(data)->Refuse(std::string("сущность не определена: ") + name);
  }
};

namespace {

// Runs the parser over what `feed` hands it; `text_bytes` bounds the size of the values.
template <typename Feed>
HostDocument ReadDocument(std::size_t text_bytes, std::size_t elements, Feed feed) {
  return HostDocumentBuilder::Read(text_bytes, elements, feed);
}

// The parser takes its input in pieces of this many units or bytes: it copies each piece into a
// buffer of its own, which therefore stays small whatever the size of the document.
constexpr std::size_t kPiece = std::size_t{1} << 16;

// The host's text is cleaned of the characters XML does not allow and converted to UTF-8 piece
// by piece, straight into the parser's own buffer: no whole copy of the document is made. What
// is removed are single characters, never markup: a reference such as "&#1;" stays and is judged
// by the parser.
bool FeedUtf16(XML_Parser parser, std::u16string_view text) {
  std::size_t at = 0;
  do {
    std::u16string_view piece = text.substr(at, kPiece);
    at += piece.size();
    const bool last = at == text.size();
    // Room for the most the piece can become, written in one pass.
    void* buffer = piece.empty()
                       ? nullptr
                       : XML_GetBuffer(parser, static_cast<int>(kMaxUtf8PerUnit * piece.size()));
    if (!buffer && !piece.empty()) return false;
    const std::size_t size =
        piece.empty() ? 0 : CleanXmlTextUtf8Write(piece, static_cast<char*>(buffer));
    if (size == 0) {  // nothing to hand over, but the end may need telling
      if (XML_Parse(parser, "", 0, last) != XML_STATUS_OK) return false;
      continue;
    }
    if (XML_ParseBuffer(parser, static_cast<int>(size), last) != XML_STATUS_OK) return false;
  } while (at < text.size());
  return true;
}

}  // namespace

template <typename Feed>
HostDocument HostDocumentBuilder::Read(std::size_t text_bytes, std::size_t elements, Feed feed,
                                       const HostDocument::RecordHandler* each) {
  ExpatParser parser = NewUtf8Parser();
  HostDocumentBuilder b;
  b.parser = parser.get();
  b.each = each;
  b.doc.slots_.resize(kHostAttrCount);
  // The values are a part of the text: room for all of it is reserved once, and only the pages
  // written ever take memory, so the buffer never grows by copying.
  b.doc.values_.reserve(text_bytes);
  // Likewise the slots, for as many records as the text can hold elements, but never more room
  // than the text itself takes.
  const std::size_t at_most = text_bytes / (kHostAttrCount * sizeof(HostDocument::Slot));
  b.doc.slots_.reserve(kHostAttrCount * (1 + std::min(elements, at_most)));
  b.doc.lines_.reserve(std::min(elements, at_most));
  XML_SetUserData(parser.get(), &b);
  XML_SetElementHandler(parser.get(), &HostDocumentBuilder::OnStart, &HostDocumentBuilder::OnEnd);
  XML_SetExternalEntityRefHandler(parser.get(), &HostDocumentBuilder::OnExternalEntity);
  XML_SetSkippedEntityHandler(parser.get(), &HostDocumentBuilder::OnSkippedEntity);
  // Hands even the external DTD subset to the handler above, which refuses it.
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_ALWAYS);
  const bool read = feed(parser.get());
  if (b.failure) std::rethrow_exception(b.failure);
  if (!read) ThrowParseError(parser.get(), b.refusal);
  if (each) {
    b.doc.slots_.resize(kHostAttrCount);  // the last record handed over is not kept
    b.doc.values_.resize(b.root_values);
  }
  return std::move(b.doc);
}

HostDocument HostDocument::Parse(std::u16string_view text) {
  const std::size_t elements = static_cast<std::size_t>(std::count(text.begin(), text.end(), u'<'));
  return ReadDocument(CleanXmlTextUtf8Size(text), elements,
                      [&](XML_Parser parser) { return FeedUtf16(parser, text); });
}

// Only the root and one record are ever kept: nothing is reserved for the whole text.
HostDocument HostDocument::ParseRecords(std::u16string_view text, const RecordHandler& each) {
  return HostDocumentBuilder::Read(
      0, 0, [&](XML_Parser parser) { return FeedUtf16(parser, text); }, &each);
}

HostDocument HostDocument::ParseUtf8(std::string_view utf8) {
  // The text is UTF-8 whatever its declaration says: the host hands over UTF-16.
  const std::size_t elements = static_cast<std::size_t>(std::count(utf8.begin(), utf8.end(), '<'));
  return ReadDocument(utf8.size(), elements, [&](XML_Parser parser) {
    std::size_t at = 0;
    do {
      std::size_t n = std::min(kPiece, utf8.size() - at);
      bool last = at + n == utf8.size();
      if (XML_Parse(parser, utf8.data() + at, static_cast<int>(n), last) != XML_STATUS_OK)
        return false;
      at += n;
    } while (at < utf8.size());
    return true;
  });
}

std::string_view HostAttrName(HostAttr attr) {
  return kAttrNames[static_cast<std::size_t>(attr)];
}

std::optional<std::string_view> HostRecord::Get(HostAttr attr) const {
  const HostDocument::Slot& slot = doc_.slots_[first_ + static_cast<std::size_t>(attr)];
  if (slot.offset == HostDocument::kNotGiven) return std::nullopt;
  return std::string_view(doc_.values_).substr(slot.offset, slot.size);
}

std::u16string HostRecord::Text(HostAttr attr) const {
  std::optional<std::string_view> text = Get(attr);
  return text ? ToUtf16(*text) : std::u16string();
}

}  // namespace velquora::driver
