// Fuzz target: the log viewer's model over a folder whose names, contents and change times are
// hostile (the log folder is writable by every user): listing, selecting, reloading on the
// timer, files that change or vanish between steps. Reading may fail with an error; the model
// must keep its list, selection and text consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/valid_utf8.h"
#include "log/log_viewer_model.h"
#include "support/fuzz_input.h"

namespace velquora::fuzz {
namespace {

constexpr char kFolder[] = "/logs/";

struct File {
  std::string bytes;
  std::int64_t stamp = 0;
};

// One folder in memory; everything outside it does not exist.
class FolderInMemory final : public platform::FileSystem {
 public:
  std::map<std::string, File> files;

  bool DirectoryExists(const std::string& path) override { return path == kFolder; }
  bool FileExists(const std::string& path) override { return Find(path) != nullptr; }
  void CreateDirectories(const std::string&) override {}
  void GrantEveryoneFullAccess(const std::string&) override {}
  platform::AppendResult AppendExclusive(const std::string&, std::string_view,
                                         const platform::AppendOptions&) override {
    return {platform::AppendStatus::kFailed, "read-only"};
  }
  std::vector<std::string> ListNames(const std::string& folder) override {
    std::vector<std::string> names;
    if (folder == kFolder)
      for (const auto& [name, file] : files) names.push_back(name);
    return names;
  }
  std::optional<std::int64_t> LastWriteTimeNs(const std::string& path) override {
    const File* f = Find(path);
    return f ? std::optional<std::int64_t>(f->stamp) : std::nullopt;
  }
  std::string ReadAll(const std::string& path) override {
    const File* f = Find(path);
    if (!f) throw std::runtime_error("no such file");
    return f->bytes;
  }
  bool CreatePrivateDirectory(const std::string&) override { return false; }
  void WriteFile(const std::string&, std::string_view) override {
    throw std::runtime_error("read-only");
  }
  void RemoveAll(const std::string&) override {}

 private:
  const File* Find(const std::string& path) const {
    if (path.rfind(kFolder, 0) != 0) return nullptr;
    auto it = files.find(path.substr(sizeof kFolder - 1));
    return it == files.end() ? nullptr : &it->second;
  }
};

void CheckConsistent(const log::LogViewerModel& model) {
  // A text widget refuses a whole text for one ill-formed sequence.
  if (ValidUtf8(model.Text()) != model.Text()) std::abort();
  // NUL would end the text in a widget; a line of megabytes would cost it hundreds.
  if (model.Text().find('\0') != std::string::npos) std::abort();
  std::size_t line = 0;
  for (char c : model.Text()) {
    line = c == '\n' ? 0 : line + 1;
    if (line > log::LogViewerModel::kLineBytes) std::abort();
  }
  int count = static_cast<int>(model.Files().size());
  if (model.Selected() < -1 || model.Selected() >= count) std::abort();
  for (const auto& name : model.Files()) {
    if (name.size() < 4) std::abort();
    std::string ext = name.substr(name.size() - 4);
    for (auto& c : ext) c = static_cast<char>(c | 0x20);
    if (ext != ".log") std::abort();
  }
}

}  // namespace
}  // namespace velquora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora;
  fuzz::FuzzInput in(data, size);
  fuzz::FolderInMemory folder;
  for (int n = in.Byte() % 6; n > 0; --n) {
    std::string name = in.Chunk();
    folder.files[name] = {in.Chunk(), in.Byte()};
  }
  log::LogViewerModel model(folder, "/logs");
  for (int steps = 0; !in.empty() && steps < 32; ++steps) {
    try {
      switch (in.Byte() % 6) {
        case 0:
          model.Open();
          break;
        case 1:
          model.Select(static_cast<std::int8_t>(in.Byte()));
          break;
        case 2:
          model.Tick();
          break;
        case 3:
          model.DropDown();
          break;
        case 4: {  // a writer appends, or a file appears
          fuzz::File& f = folder.files[in.Chunk()];
          f.bytes += in.Chunk();
          f.stamp += in.Byte();
          break;
        }
        default:  // a file vanishes
          folder.files.erase(in.Chunk());
          break;
      }
    } catch (const std::exception&) {
    }
    fuzz::CheckConsistent(model);
  }
  return 0;
}
