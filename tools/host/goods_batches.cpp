#include "goods_batches.h"

#include <pugixml.hpp>

#include <sstream>
#include <stdexcept>

namespace velquora::host {
namespace {

std::string Serialize(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

bool IsRecord(const pugi::xml_node& n) {
  std::string name = n.name();
  for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return n.type() == pugi::node_element && name == "record";
}

void Load(const std::string& utf8, pugi::xml_document& doc) {
  auto result = doc.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) throw std::runtime_error(std::string("goods document: ") + result.description());
}

}  // namespace

std::size_t CountRecords(const std::string& utf8) {
  pugi::xml_document doc;
  Load(utf8, doc);
  std::size_t n = 0;
  for (auto r : doc.document_element().children()) n += IsRecord(r);
  return n;
}

std::vector<GoodsBatch> SplitGoods(const std::string& utf8, std::size_t batch_size) {
  pugi::xml_document doc;
  Load(utf8, doc);
  std::vector<GoodsBatch> batches;
  pugi::xml_document current;
  GoodsBatch batch;
  std::size_t position = 0;
  auto flush = [&] {
    if (batch.records.empty()) return;
    batch.document = Serialize(current);
    batches.push_back(std::move(batch));
    batch = GoodsBatch{};
    current.reset();
  };
  for (auto record : doc.document_element().children()) {
    if (!IsRecord(record)) continue;
    ++position;
    if (batch.records.empty()) {
      batch.first = position;
      current.append_child(doc.document_element().name());
    }
    current.document_element().append_copy(record);
    pugi::xml_document single;
    single.append_child(doc.document_element().name()).append_copy(record);
    batch.records.push_back(Serialize(single));
    batch.plus.push_back(record.attribute("PLU").value());
    if (batch.records.size() == batch_size) flush();
  }
  flush();
  return batches;
}

}  // namespace velquora::host
