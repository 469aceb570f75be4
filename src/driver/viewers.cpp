#include "driver/viewers.h"

#include "common/error.h"

namespace velquora::driver {
namespace {

// This build carries no window program: say so instead of pretending to show anything.
class MissingViewers final : public Viewers {
 public:
  void ShowLog(const std::string&) override {
    throw Error("Просмотр лога недоступен: окно просмотра не входит в эту сборку драйвера");
  }
  void ShowHelp(const std::u16string&) override {
    throw Error("Справка недоступна: окно просмотра не входит в эту сборку драйвера");
  }
};

Viewers* g_override = nullptr;

}  // namespace

Viewers& InstalledViewers() {
  static MissingViewers missing;
  return g_override ? *g_override : missing;
}

void SetViewersForTesting(Viewers* viewers) { g_override = viewers; }

}  // namespace velquora::driver
