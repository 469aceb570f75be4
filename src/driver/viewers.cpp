#include "driver/viewers.h"

#include "common/error.h"
#include "common/text.h"
#include "driver/kept_help_folder.h"
#include "help/markdown_renderer.h"
#include "platform/carried_program.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/system_info.h"

namespace velquora::driver {
namespace {

// The windows run in a program of their own, carried inside the library: a window toolkit must
// never be loaded into the host's process, which may run its own (or another version of it).
class ProgramViewers final : public Viewers {
 public:
  void ShowLog(const std::string& log_folder) override { Run({"log", log_folder}); }

  void ShowHelp(const std::u16string& caption) override {
    RequireDisplay();
    help::RendererServices services =
        help::DefaultServices([this](const std::string& html, const std::u16string& title) {
          Run({"doc", html, ToUtf8(title)});
        });
    if constexpr (platform::kHelpPageOutlivesViewer) {
      // The browser reads the page after the viewer returned: its folder stays until the next
      // request (now) or the last object's end.
      RemoveKeptHelpFolder();
      help::MarkdownRenderer renderer(std::move(services), "help");
      renderer.Render(caption);
      KeepHelpFolder(renderer.ReleaseTempFolder());
    } else {
      // The viewer shows the page itself and returns when its window is closed.
      help::MarkdownRenderer::Render(services, "help", caption);
    }
  }

 private:
  static void RequireDisplay() {
    if (!platform::DisplayAvailable()) {
      throw Error(
          ErrorKind::kUnsupported,
          "Нет графического сеанса (не заданы DISPLAY и WAYLAND_DISPLAY): окно просмотра показать "
          "нельзя");
    }
  }

  void Run(const std::vector<std::string>& args) {
    RequireDisplay();
    auto image = platform::FindDataItem("viewer");
    if (!image)
      throw Error(ErrorKind::kNotFound, "Программа просмотра не встроена в эту сборку библиотеки");
    platform::ProcessResult result = platform::RunCarriedProgram("velquora-viewer", *image, args);
    if (result.exit_code != 0) {
      std::string text(TrimControl(std::string_view(result.error_output)));
      if (text.empty())
        text =
            "Окно просмотра завершилось с ошибкой (код " + std::to_string(result.exit_code) + ")";
      throw Error(ErrorKind::kInternal, text);
    }
  }
};

Viewers* g_override = nullptr;

}  // namespace

Viewers& InstalledViewers() {
  static ProgramViewers viewers;
  return g_override ? *g_override : viewers;
}

void SetViewersForTesting(Viewers* viewers) {
  g_override = viewers;
}

}  // namespace velquora::driver
