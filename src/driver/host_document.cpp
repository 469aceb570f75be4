#include "driver/host_document.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "driver/expat_parser.h"

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

// The host's text without the characters XML does not allow (every UTF-16 unit outside
// U+0009, U+000A, U+000D, U+0020..U+D7FF and U+E000..U+FFFD, surrogate halves included), as
// UTF-8 in one pass. What is removed are single characters, never markup: a reference such
// as "&#1;" stays and is judged by the parser.
std::string CleanToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (char16_t c : text) {
    if (c < 0x80) {
      if (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D) out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c >= 0xFFFE) {
      continue;
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

// Collects the document as the parser reports it.
struct HostDocumentBuilder {
  XML_Parser parser;
  HostDocument doc;
  std::size_t depth = 0;
  std::string refusal;  // why the document was refused when the parser itself found no fault

  void Refuse(std::string why) {
    if (refusal.empty()) refusal = std::move(why);
    XML_StopParser(parser, XML_FALSE);
  }

  void Keep(std::size_t first_slot, const char** atts) {
    for (; atts[0]; atts += 2) {
      std::size_t index = AttrIndex(atts[0]);
      if (index == kHostAttrCount) continue;
      std::size_t size = std::strlen(atts[1]);
      if (doc.values_.size() + size >= HostDocument::kAbsent) {
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
    } else if (b->depth == 2 && IsRecordName(name)) {
      std::size_t first = b->doc.slots_.size();
      b->doc.slots_.resize(first + kHostAttrCount);
      b->Keep(first, atts);
    }
  }
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

HostDocument HostDocument::Parse(std::u16string_view text) {
  return ParseUtf8(CleanToUtf8(text));
}

HostDocument HostDocument::ParseUtf8(std::string_view utf8) {
  // The text is UTF-8 whatever its declaration says: the host hands over UTF-16.
  ExpatParser parser = NewUtf8Parser();
  HostDocumentBuilder b{parser.get(), {}, 0, {}};
  b.doc.slots_.resize(kHostAttrCount);
  XML_SetUserData(parser.get(), &b);
  XML_SetElementHandler(parser.get(), &HostDocumentBuilder::OnStart, &HostDocumentBuilder::OnEnd);
  XML_SetExternalEntityRefHandler(parser.get(), &HostDocumentBuilder::OnExternalEntity);
  XML_SetSkippedEntityHandler(parser.get(), &HostDocumentBuilder::OnSkippedEntity);
  // Hands even the external DTD subset to the handler above, which refuses it.
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_ALWAYS);

  constexpr std::size_t kChunk = std::size_t{1} << 26;
  std::size_t at = 0;
  bool ok = true;
  do {
    std::size_t n = std::min(kChunk, utf8.size() - at);
    bool last = at + n == utf8.size();
    ok = XML_Parse(parser.get(), utf8.data() + at, static_cast<int>(n), last) == XML_STATUS_OK;
    at += n;
  } while (ok && at < utf8.size());
  if (!ok) ThrowParseError(parser.get(), b.refusal);
  return std::move(b.doc);
}

std::optional<std::string_view> HostRecord::Get(HostAttr attr) const {
  const HostDocument::Slot& slot = doc_.slots_[first_ + static_cast<std::size_t>(attr)];
  if (slot.offset == HostDocument::kAbsent) return std::nullopt;
  return std::string_view(doc_.values_).substr(slot.offset, slot.size);
}

std::u16string HostRecord::Text(HostAttr attr) const {
  std::optional<std::string_view> text = Get(attr);
  return text ? ToUtf16(*text) : std::u16string();
}

}  // namespace velquora::driver
