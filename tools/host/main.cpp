// velquora-host: loads a driver library as a business-application host does and runs its
// methods from the command line.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin_library.h"
#include "common/text.h"
#include "progress_bar.h"

namespace {

using velquora::ToUtf16;
using velquora::ToUtf8;
using velquora::host::AddinLibrary;
using velquora::host::CallResult;
using velquora::host::Component;
using velquora::host::Value;

constexpr char kUsage[] =
    "Usage: velquora-host [options] COMMAND [ARGS]\n\n"
    "Commands:\n"
    "  info                      classes, properties, methods and the driver's documents\n"
    "  test                      device test (connects to the scale)\n"
    "  upload-goods FILE         goods document (a progress bar while a long upload runs)\n"
    "  upload-groups FILE        main groups document\n"
    "  upload-shops FILE         shops document\n"
    "  upload-data NAME FILE     raw records as hex text (NAME like F37, D41)\n"
    "  delete-good N | delete-group N\n"
    "  clear-goods | clear-groups\n"
    "  call METHOD [ARGS...]     any method; @FILE reads an argument from a file\n\n"
    "Options:\n"
    "  --lib PATH                driver library (default: libw_velquora.so beside this program)\n"
    "  --deepbind                load it with RTLD_DEEPBIND, as some hosts do\n"
    "  --status-line-throws      the host's SetStatusLine throws a C++ exception (a careless\n"
    "                            host, which the driver must outlive)\n"
    "  --class NAME              component class (default: the library's first class)\n"
    "  --ip ADDR --port N        the scale's address and port\n"
    "  --commodity-font N --ingredient-font N --spec-font N --company-font N\n"
    "  --label-format N          label format number (17..24)\n"
    "  --log                     driver log on     --ext-log   exchange log on\n"
    "  --settings FILE           lines NAME=VALUE, set with SetParameter before Open\n"
    "  -q, --quiet               no progress bar\n"
    "Exit codes: 0 success, 1 the driver answered false, 2 bad usage.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velquora-host: %s\n\n%s", message.c_str(), kUsage);
  return 2;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string DefaultLibrary() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
  std::size_t slash = exe.rfind('/');
  return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) +
         "/libw_velquora.so";
}

struct Session {
  Component& c;

  std::string LastError() {
    CallResult r = c.Call(u"GetLastError", {std::u16string()});
    return r.args.empty() ? "" : velquora::host::ValueText(r.args[0]);
  }
  // Calls a Boolean method; prints the driver's error and returns false when it answers false.
  bool Run(const std::u16string& method, std::vector<Value> args, CallResult* out = nullptr) {
    CallResult r = c.Call(method, std::move(args));
    if (out) *out = r;
    bool ok = r.ok && (!std::holds_alternative<bool>(r.result) || std::get<bool>(r.result));
    if (!ok) std::fprintf(stderr, "error: %s\n", LastError().c_str());
    return ok;
  }
};

// Runs one upload method in one call, as a host does, drawing the driver's progress from the
// status line while it runs; on failure prints the driver's error text.
int Upload(Session& s, velquora::host::ProgressBar*& active, const std::u16string& method,
           std::vector<Value> args) {
  velquora::host::ProgressBar bar(stderr);
  active = &bar;
  CallResult r = s.c.Call(method, std::move(args));
  active = nullptr;
  bool ok = r.ok && std::holds_alternative<bool>(r.result) && std::get<bool>(r.result);
  bar.Finish(ok);
  if (!ok) std::fprintf(stderr, "error: %s\n", s.LastError().c_str());
  return ok ? 0 : 1;
}

void Info(Component& c, AddinLibrary& lib) {
  auto* o = c.object();
  std::printf("classes: %s\n", ToUtf8(lib.ClassNames()).c_str());
  std::printf("properties (%ld):\n", o->GetNProps());
  for (long i = 0; i < o->GetNProps(); ++i) {
    std::printf("  %-28s %-24s %s\n", ToUtf8(c.PropName(i, 1)).c_str(),
                ToUtf8(c.PropName(i, 0)).c_str(), o->IsPropWritable(i) ? "" : "read-only");
  }
  std::printf("methods (%ld):\n", o->GetNMethods());
  for (long i = 0; i < o->GetNMethods(); ++i) {
    std::printf("  %-22s %-34s %ld\n", ToUtf8(c.MethodName(i, 1)).c_str(),
                ToUtf8(c.MethodName(i, 0)).c_str(), o->GetNParams(i));
  }
  for (const char16_t* doc : {u"GetDescription", u"GetParameters", u"GetAdditionalActions"}) {
    CallResult r = c.Call(doc, {std::u16string()});
    std::printf("\n%s:\n%s\n", ToUtf8(doc).c_str(), velquora::host::ValueText(r.args[0]).c_str());
  }
}

Value Argument(const std::string& text) {
  if (!text.empty() && text[0] == '@') return ToUtf16(ReadFile(text.substr(1)));
  return ToUtf16(text);
}

}  // namespace

int main(int argc, char** argv) {
  std::string lib_path = DefaultLibrary(), class_name;
  std::vector<std::pair<std::u16string, Value>> settings;
  std::vector<std::string> rest;
  bool quiet = false, deep_bind = false, status_line_throws = false;
  static const std::map<std::string, std::u16string> kIntOptions = {
      {"--port", u"IPPort"},
      {"--commodity-font", u"CommodityFont"},
      {"--ingredient-font", u"IngredientFont"},
      {"--spec-font", u"SpecMessageFont"},
      {"--company-font", u"CompanyFont"},
      {"--label-format", u"LabelFormatNumber"}};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      return argv[++i];
    };
    try {
      if (a == "--help" || a == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      } else if (a == "--lib") {
        lib_path = value();
      } else if (a == "--deepbind") {
        deep_bind = true;
      } else if (a == "--status-line-throws") {
        status_line_throws = true;
      } else if (a == "--class") {
        class_name = value();
      } else if (a == "--ip") {
        settings.emplace_back(u"IPAddress", ToUtf16(value()));
      } else if (kIntOptions.count(a)) {
        std::string v = value();
        std::size_t used = 0;
        int n = std::stoi(v, &used);
        if (used != v.size()) throw std::invalid_argument(a + " takes a number");
        settings.emplace_back(kIntOptions.at(a), std::int32_t{n});
      } else if (a == "--log") {
        settings.emplace_back(u"LogEnabled", true);
      } else if (a == "--ext-log") {
        settings.emplace_back(u"ExtLogEnabled", true);
      } else if (a == "--settings") {
        std::istringstream in(ReadFile(value()));
        for (std::string line; std::getline(in, line);) {
          if (!line.empty() && line.back() == '\r') line.pop_back();
          std::size_t eq = line.find('=');
          if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
          settings.emplace_back(ToUtf16(line.substr(0, eq)), ToUtf16(line.substr(eq + 1)));
        }
      } else if (a == "-q" || a == "--quiet") {
        quiet = true;
      } else if (a.size() > 1 && a[0] == '-' && rest.empty()) {
        return UsageError("unknown option " + a);
      } else {
        rest.push_back(a);
      }
    } catch (const std::exception& e) {
      return UsageError(e.what());
    }
  }
  if (rest.empty()) return UsageError("no command");
  const std::string cmd = rest[0];
  auto need = [&](std::size_t n) { return rest.size() == n + 1; };
  static const std::map<std::string, std::size_t> kArgs = {
      {"info", 0},         {"test", 0},        {"upload-goods", 1}, {"upload-groups", 1},
      {"upload-shops", 1}, {"upload-data", 2}, {"delete-good", 1},  {"delete-group", 1},
      {"clear-goods", 0},  {"clear-groups", 0}};
  if (cmd != "call" && (!kArgs.count(cmd) || !need(kArgs.at(cmd)))) {
    return UsageError(kArgs.count(cmd)
                          ? cmd + " takes " + std::to_string(kArgs.at(cmd)) + " argument(s)"
                          : "unknown command " + cmd);
  }
  if (cmd == "call" && rest.size() < 2) return UsageError("call needs a method name");

  try {
    AddinLibrary lib(lib_path, deep_bind);
    if (class_name.empty()) {
      std::u16string names = lib.ClassNames();
      class_name = ToUtf8(names.substr(0, names.find(u'|')));
    }
    Component c(lib, ToUtf16(class_name));
    velquora::host::ProgressBar* bar = nullptr;  // the upload running now, if any
    c.connection().echo = [&bar, quiet, status_line_throws](const std::string& line) {
      constexpr std::string_view kStatus = "status: ";
      if (line.rfind(kStatus, 0) == 0) {
        if (status_line_throws) throw std::runtime_error("the host's status line failed");
        std::string text = line.substr(kStatus.size());
        if (quiet && velquora::host::ParseStatusProgress(text)) return;
        if (bar && bar->Update(text)) return;
      }
      std::fprintf(stderr, "host: %s\n", line.c_str());
    };
    Session s{c};
    for (auto& [name, v] : settings) {
      if (!s.Run(u"SetParameter", {name, v})) return 1;
    }
    if (cmd == "info") {
      Info(c, lib);
      return 0;
    }
    if (cmd == "call") {
      std::vector<Value> args;
      for (std::size_t i = 2; i < rest.size(); ++i) args.push_back(Argument(rest[i]));
      CallResult r = c.Call(ToUtf16(rest[1]), args);
      std::printf("result: %s\n", velquora::host::ValueText(r.result).c_str());
      for (std::size_t i = 0; i < r.args.size(); ++i) {
        std::printf("arg %zu: %s\n", i + 1, velquora::host::ValueText(r.args[i]).c_str());
      }
      bool ok = r.ok && (!std::holds_alternative<bool>(r.result) || std::get<bool>(r.result));
      if (!ok) std::fprintf(stderr, "error: %s\n", s.LastError().c_str());
      return ok ? 0 : 1;
    }
    if (cmd == "test") {
      CallResult r;
      if (!s.Run(u"DeviceTest", {std::u16string(), std::u16string()}, &r)) return 1;
      std::printf("%s\n", velquora::host::ValueText(r.args[0]).c_str());
      return 0;
    }
    if (!s.Run(u"Open", {std::u16string()})) return 1;
    int code = 0;
    if (cmd == "upload-goods")
      code = Upload(s, bar, u"UploadGoods",
                    {std::u16string(), ToUtf16(ReadFile(rest[1])), std::u16string()});
    else if (cmd == "upload-groups")
      code = Upload(s, bar, u"UploadGroups", {ToUtf16(ReadFile(rest[1]))});
    else if (cmd == "upload-shops")
      code = Upload(s, bar, u"UploadShops", {ToUtf16(ReadFile(rest[1]))});
    else if (cmd == "upload-data")
      code = Upload(s, bar, u"UploadData", {ToUtf16(rest[1]), ToUtf16(ReadFile(rest[2]))});
    else if (cmd == "delete-good")
      code = s.Run(u"DeleteGood", {Argument(rest[1])}) ? 0 : 1;
    else if (cmd == "delete-group")
      code = s.Run(u"DeleteGroup", {Argument(rest[1])}) ? 0 : 1;
    else if (cmd == "clear-goods")
      code = s.Run(u"ClearGoods", {std::u16string()}) ? 0 : 1;
    else if (cmd == "clear-groups")
      code = s.Run(u"ClearGroups", {}) ? 0 : 1;
    s.Run(u"Close", {std::u16string()});
    if (code == 0) std::printf("%s: done\n", cmd.c_str());
    return code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velquora-host: %s\n", e.what());
    return 1;
  }
}
