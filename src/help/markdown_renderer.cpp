#include "help/markdown_renderer.h"

#include <cmark.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/error.h"
#include "common/hex.h"
#include "common/text.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/system_info.h"

namespace velquora::help {
namespace {

constexpr char kSep = platform::kPathSeparator;

bool EndsWith(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  std::string end = s.substr(s.size() - tail.size());
  for (auto& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == tail;
}

// An archive entry may only name a place inside the folder it is unpacked into.
bool SafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos)
    return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    text += static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  }
  return ToUtf8(text);
}

}  // namespace

RendererServices DefaultServices(
    std::function<void(const std::string&, const std::u16string&)> show) {
  return {[](std::string_view name) { return platform::FindDataItem(name); }, std::move(show),
          &platform::RealFileSystem()};
}

std::string NewGuidText() {
  unsigned char b[16];
  platform::RandomBytes(b, sizeof b);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  std::string_view bytes(reinterpret_cast<const char*>(b), sizeof b);
  return "{" + HexText(bytes.substr(0, 4)) + "-" + HexText(bytes.substr(4, 2)) + "-" +
         HexText(bytes.substr(6, 2)) + "-" + HexText(bytes.substr(8, 2)) + "-" +
         HexText(bytes.substr(10)) + "}";
}

std::string DecodeText(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    return std::string(bytes.substr(3));
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
    return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
    return Utf16ToUtf8(bytes.substr(2), true);
  return std::string(bytes);
}

std::string MarkdownToHtml(std::string_view markdown) {
  std::unique_ptr<char, decltype(&std::free)> html(
      cmark_markdown_to_html(markdown.data(), markdown.size(), CMARK_OPT_DEFAULT), &std::free);
  if (!html) throw Error(ErrorKind::kInternal, "Markdown conversion failed");
  return html.get();
}

std::string HtmlDocument(const std::string& body, const std::string& css) {
  std::string out = "\xEF\xBB\xBF";
  if (css.empty()) return out + body;
  out += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<link href=\"" + css + "\" rel=\"stylesheet\">";
  out += "\r\n</head>\r\n<body>\r\n" + body + "\r\n</body>\r\n</html>";
  return out;
}

MarkdownRenderer::MarkdownRenderer(RendererServices services, std::string source_name)
    : services_(std::move(services)), source_name_(std::move(source_name)) {
  if (!services_.fs) services_.fs = &platform::RealFileSystem();
  std::string temp =
      platform::SpecialFolderPath(platform::SpecialFolder::kTemp, true).value_or("/tmp");
  // A fresh name every time: never an existing folder, and only this user may enter it.
  for (int attempt = 0; attempt < 8 && temp_folder_.empty(); ++attempt) {
    std::string candidate = temp + kSep + NewGuidText();
    if (services_.fs->CreatePrivateDirectory(candidate)) temp_folder_ = candidate + kSep;
  }
  if (temp_folder_.empty())
    throw Error(ErrorKind::kIo, "Cannot create a temporary folder in " + temp);
}

MarkdownRenderer::~MarkdownRenderer() {
  if (!temp_folder_.empty()) services_.fs->RemoveAll(temp_folder_);
}

void MarkdownRenderer::Unpack(const std::string& archive) {
  int error = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_RDONLY, &error);
  if (!zip) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    std::string text = zip_error_strerror(&e);
    zip_error_fini(&e);
    throw Error(ErrorKind::kIo, "Cannot read the help archive: " + text);
  }
  std::unique_ptr<zip_t, decltype(&zip_discard)> guard(zip, &zip_discard);
  zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* raw_name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
    std::string name = raw_name ? raw_name : "";
    if (!SafeEntryName(name))
      throw Error(ErrorKind::kInvalid,
                  "The help archive holds an entry outside its folder: " + name);
    std::string target = temp_folder_ + name;
    // Folders named by the entry, then the file itself.
    for (std::size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1)) {
      std::string folder = temp_folder_ + name.substr(0, at);
      if (!services_.fs->DirectoryExists(folder)) services_.fs->CreateDirectories(folder);
    }
    if (name.back() == '/') continue;
    zip_stat_t st;
    zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
    std::string data(static_cast<std::size_t>(st.size), '\0');
    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
    if (!file) throw Error(ErrorKind::kIo, "Cannot read " + name + " from the help archive");
    zip_int64_t got = zip_fread(file, data.data(), data.size());
    zip_fclose(file);
    if (got < 0 || static_cast<std::size_t>(got) != data.size())
      throw Error(ErrorKind::kIo, "Cannot read " + name + " from the help archive");
    services_.fs->WriteFile(target, data);
  }
}

std::string MarkdownRenderer::FindTopLevel(const std::string& extension) const {
  for (const auto& name : services_.fs->ListNames(temp_folder_)) {
    if (EndsWith(name, extension) && services_.fs->FileExists(temp_folder_ + name)) return name;
  }
  return {};
}

std::string MarkdownRenderer::Render(const std::u16string& caption) {
  auto item = services_.data_item ? services_.data_item(source_name_) : std::nullopt;
  if (!item) throw Error(ErrorKind::kNotFound, "File not found: " + source_name_);
  std::string archive = temp_folder_ + "md.zip";
  services_.fs->WriteFile(archive, *item);
  Unpack(archive);
  std::string markdown = FindTopLevel(".md");
  if (markdown.empty()) throw Error(ErrorKind::kNotFound, "Mardown file not found");
  std::string html = MarkdownToHtml(DecodeText(services_.fs->ReadAll(temp_folder_ + markdown)));
  std::string html_path = temp_folder_ + "md.html";
  services_.fs->WriteFile(html_path, HtmlDocument(html, FindTopLevel(".css")));
  if (services_.show) services_.show(html_path, caption);
  return html_path;
}

void MarkdownRenderer::ConvertToHtml(const std::string& destination, const std::string& css) {
  std::string source =
      platform::IsRootedPath(source_name_) ? source_name_ : temp_folder_ + source_name_;
  std::string html = MarkdownToHtml(DecodeText(services_.fs->ReadAll(source)));
  services_.fs->WriteFile(destination.empty() ? temp_folder_ + "md.html" : destination,
                          HtmlDocument(html, css));
}

void MarkdownRenderer::Render(const RendererServices& services, const std::string& source,
                              const std::u16string& caption) {
  if (source.empty() || !services.data_item || !services.data_item(source))
    throw Error(ErrorKind::kNotFound, "File not found: " + source);
  MarkdownRenderer renderer(services, source);
  renderer.Render(caption);
}

void MarkdownRenderer::ConvertToHtml(const RendererServices& services, const std::string& source,
                                     const std::string& destination, const std::string& css) {
  platform::FileSystem& fs = services.fs ? *services.fs : platform::RealFileSystem();
  if (!fs.FileExists(source)) throw Error(ErrorKind::kNotFound, "File not found: " + source);
  if (!css.empty() && !fs.FileExists(css))
    throw Error(ErrorKind::kNotFound, "File not found: " + css);
  MarkdownRenderer renderer(services, source);
  renderer.ConvertToHtml(destination, css);
}

}  // namespace velquora::help
