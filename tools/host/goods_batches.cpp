#include "goods_batches.h"

#include <expat.h>

#include <cctype>
#include <memory>
#include <stdexcept>

namespace velquora::host {
namespace {

struct RecordSpan {
  std::size_t begin, end;
  std::string plu;
};

// The top-level element's name and where each "Record" child (any letter case) lies in the text.
struct Scan {
  XML_Parser parser = nullptr;
  int depth = 0;
  std::string root;
  std::vector<RecordSpan> records;
  bool in_record = false;

  static bool IsRecord(const char* name) {
    std::string n = name;
    for (auto& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return n == "record";
  }
  static void OnStart(void* data, const char* name, const char** atts) {
    auto* s = static_cast<Scan*>(data);
    ++s->depth;
    if (s->depth == 1) s->root = name;
    if (s->depth != 2 || !IsRecord(name)) return;
    RecordSpan r{static_cast<std::size_t>(XML_GetCurrentByteIndex(s->parser)), 0, {}};
    for (; atts[0]; atts += 2)
      if (std::string(atts[0]) == "PLU") r.plu = atts[1];
    s->records.push_back(r);
    s->in_record = true;
  }
  static void OnEnd(void* data, const char*) {
    auto* s = static_cast<Scan*>(data);
    if (s->depth == 2 && s->in_record) {
      s->records.back().end = static_cast<std::size_t>(XML_GetCurrentByteIndex(s->parser) +
                                                       XML_GetCurrentByteCount(s->parser));
      s->in_record = false;
    }
    --s->depth;
  }
};

Scan Load(const std::string& utf8) {
  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"),
                                                                 XML_ParserFree);
  Scan scan;
  scan.parser = parser.get();
  XML_SetUserData(parser.get(), &scan);
  XML_SetElementHandler(parser.get(), &Scan::OnStart, &Scan::OnEnd);
  if (XML_Parse(parser.get(), utf8.data(), static_cast<int>(utf8.size()), 1) != XML_STATUS_OK) {
    throw std::runtime_error(std::string("goods document: ") +
                             XML_ErrorString(XML_GetErrorCode(parser.get())));
  }
  scan.parser = nullptr;
  return scan;
}

}  // namespace

std::size_t CountRecords(const std::string& utf8) {
  return Load(utf8).records.size();
}

std::vector<GoodsBatch> SplitGoods(const std::string& utf8, std::size_t batch_size) {
  Scan scan = Load(utf8);
  const std::string open = "<" + scan.root + ">", close = "</" + scan.root + ">";
  std::vector<GoodsBatch> batches;
  GoodsBatch batch;
  std::string body;
  auto flush = [&] {
    if (batch.records.empty()) return;
    batch.document = open + body + close;
    batches.push_back(std::move(batch));
    batch = GoodsBatch{};
    body.clear();
  };
  for (std::size_t i = 0; i < scan.records.size(); ++i) {
    const RecordSpan& r = scan.records[i];
    std::string text = utf8.substr(r.begin, r.end - r.begin);
    if (batch.records.empty()) batch.first = i + 1;
    body += text;
    batch.records.push_back(open + text + close);
    batch.plus.push_back(r.plu);
    if (batch.records.size() == batch_size) flush();
  }
  flush();
  return batches;
}

}  // namespace velquora::host
