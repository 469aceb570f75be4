#pragma once
// Splits a goods document into smaller documents of whole records, for uploads with progress.
#include <string>
#include <vector>

namespace velquora::host {

struct GoodsBatch {
  std::string document;              // <Table> with the batch's records
  std::size_t first = 0;             // position of its first record in the whole document (from 1)
  std::vector<std::string> plus;     // each record's PLU attribute, in order
  std::vector<std::string> records;  // each record alone as a document
};

// Throws std::runtime_error on a document that does not parse.
std::vector<GoodsBatch> SplitGoods(const std::string& utf8, std::size_t batch_size);
std::size_t CountRecords(const std::string& utf8);

}  // namespace velquora::host
