#pragma once
// Unpacks the help archive the library carries into a fresh private temporary folder,
// converts its Markdown document to an HTML file and hands that file to a viewer window.
// The folder is removed with everything in it when the renderer goes, unless the caller takes
// it over.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_system.h"

namespace velquora::help {

struct RendererServices {
  // The library's data item of a name, or nothing.
  std::function<std::optional<std::string_view>(std::string_view)> data_item;
  // Shows the HTML file in a window and returns when the user has closed it.
  std::function<void(const std::string& html_path, const std::u16string& caption)> show;
  platform::FileSystem* fs = nullptr;
};

// The library's own data items and file system; `show` is the caller's.
RendererServices DefaultServices(
    std::function<void(const std::string&, const std::u16string&)> show);

class MarkdownRenderer {
 public:
  explicit MarkdownRenderer(RendererServices services, std::string source_name = {});
  ~MarkdownRenderer();
  MarkdownRenderer(const MarkdownRenderer&) = delete;
  MarkdownRenderer& operator=(const MarkdownRenderer&) = delete;

  const std::string& temp_folder() const { return temp_folder_; }
  // Hands the temporary folder to the caller, who removes it; the renderer no longer does.
  std::string ReleaseTempFolder() { return std::exchange(temp_folder_, std::string()); }

  // Unpack, convert, show; returns the path of md.html.
  std::string Render(const std::u16string& caption);
  // Converts the Markdown file named by the source name (relative: inside the temporary folder).
  void ConvertToHtml(const std::string& destination, const std::string& css);

  static void Render(const RendererServices& services, const std::string& source,
                     const std::u16string& caption);
  static void ConvertToHtml(const RendererServices& services, const std::string& source,
                            const std::string& destination, const std::string& css);

 private:
  void Unpack(const std::string& archive);
  std::string FindTopLevel(const std::string& extension) const;

  RendererServices services_;
  std::string source_name_;
  std::string temp_folder_;  // with a trailing separator
};

// Markdown text of a file: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark decides the
// encoding and is dropped; without one the bytes are UTF-8.
std::string DecodeText(std::string_view bytes);
// CommonMark to HTML (the converter's safe mode: raw HTML is not passed through).
std::string MarkdownToHtml(std::string_view markdown);
// md.html's content: a byte-order mark, then the wrapper with the style sheet, or the HTML alone.
std::string HtmlDocument(const std::string& body, const std::string& css);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the system's random source.
std::string NewGuidText();

}  // namespace velquora::help
