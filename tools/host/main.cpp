// velquora-host: loads a driver library as a business-application host does and runs its
// methods from the command line, against one scale or several at once.
#include <expat.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "addin_library.h"
#include "common/text.h"
#include "progress_bar.h"
#include "scale_emulator.h"

#ifndef VELQUORA_VERSION
#define VELQUORA_VERSION "0"
#endif

namespace {

using velquora::ToUtf16;
using velquora::ToUtf8;
using velquora::host::AddinLibrary;
using velquora::host::CallResult;
using velquora::host::Component;
using velquora::host::ProgressDisplay;
using velquora::host::Value;

// Exit codes, distinct so that a script can tell what to do next.
enum Exit : int {
  kOk = 0,
  kDriverFailed = 1,  // the driver refused or failed an operation: fix the data or the scale
  kBadUsage = 2,      // bad option or argument: fix the command line
  kInputFile = 3,     // a document, settings file or the library cannot be read
  kTransport = 4,     // the scale cannot be reached or the connection broke: retry later
  kInterrupted = 130,
};

constexpr char kUsage[] =
    "Usage: velquora-host [options] COMMAND [ARGS]\n\n"
    "Commands:\n"
    "  info                      classes, properties, methods, the settings (and where each\n"
    "                            value came from) and the driver's documents\n"
    "  test                      device test (connects to the scale)\n"
    "  upload-goods FILE         goods document\n"
    "  upload-groups FILE        main groups document\n"
    "  upload-shops FILE         shops document\n"
    "  upload-data NAME FILE     raw records as hex text (NAME like F37, D41)\n"
    "  delete-good N | delete-group N\n"
    "  clear-goods | clear-groups\n"
    "  check FILE                runs a goods, groups or shops document through the driver\n"
    "                            against a scale emulator of its own on 127.0.0.1 (nothing is\n"
    "                            sent anywhere else) and prints the driver's first fault\n"
    "  call METHOD [ARGS...]     any method; @FILE reads an argument from a file; the device\n"
    "                            is opened first for methods that need it\n"
    "FILE may be - for standard input.\n\n"
    "Options:\n"
    "  --lib PATH                driver library (default: libw_velquora.so beside this program)\n"
    "  --deepbind                load it with RTLD_DEEPBIND, as some hosts do\n"
    "  --status-line-throws      the host's SetStatusLine throws a C++ exception (a careless\n"
    "                            host, which the driver must outlive)\n"
    "  --class NAME              component class (default: the library's first class)\n"
    "  --ip ADDR[:PORT]          the scale; give it several times to run the job on several\n"
    "                            scales at once, each with a component of its own\n"
    "  --ips FILE                scales from a file, one ADDR[:PORT] a line (# comments)\n"
    "  --port N                  the port of scales given without one\n"
    "  --commodity-font N --ingredient-font N --spec-font N --company-font N\n"
    "  --label-format N          label format number (17..24)\n"
    "  --log                     driver log on     --ext-log   exchange log on\n"
    "  --settings FILE           lines NAME=VALUE, set with SetParameter before Open\n"
    "                            Settings given nowhere take the defaults of the driver's own\n"
    "                            settings page (GetParameters), as a host's settings form does.\n"
    "  --kind goods|groups|shops the document kind for check (default: told by its records)\n"
    "  --json                    results as JSON on stdout, one object per result\n"
    "  -q, --quiet               no progress\n"
    "  --version                 tool and library versions, the library file used\n\n"
    "Progress goes to stderr: a bar per scale on a terminal, otherwise a line every 5 s.\n"
    "Ctrl-C stops after the driver's current call returns; a second Ctrl-C ends at once and\n"
    "says how far each upload had got.\n\n"
    "Exit codes: 0 success; 1 the driver refused or failed an operation; 2 bad usage;\n"
    "3 a document, settings file or the library cannot be read; 4 the scale cannot be reached\n"
    "or does not answer, or closes or resets the connection; 130 interrupted. With several\n"
    "scales: the code of the first scale that failed.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The texts of the transport's own failures. The host sees only the driver's code (1001 for
// every failure) and its text, so this is the one place where the host reads the wording.
constexpr const char* kTransportTexts[] = {
    "Ошибка при создании сокета",         "Ошибка при установлении подключения",
    "Ошибка при отправке данных серверу", "Ошибка при получении ответа от сервера",
    "Соединение закрыто весами",          "Соединение сброшено весами",
};

int FailureCode(const std::string& driver_text) {
  for (const char* t : kTransportTexts) {
    if (driver_text.rfind(t, 0) == 0) return kTransport;
  }
  return kDriverFailed;
}

std::string ReadInput(const std::string& path, const std::string& what) {
  if (path == "-") {
    std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (std::cin.bad()) throw InputError("cannot read " + what + " from standard input");
    return text;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    throw InputError("cannot read " + what + " " + path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw InputError(what + " " + path + " is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot read " + what + " " + path + ": " + std::strerror(errno));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw InputError("cannot read " + what + " " + path);
  return text;
}

// An upload document must at least look like XML; everything past that is the driver's to judge.
std::string ReadDocument(const std::string& path) {
  std::string text = ReadInput(path, "the document");
  if (text.find('<') == std::string::npos)
    throw InputError((path == "-" ? std::string("standard input") : path) +
                     " is not an XML document");
  return text;
}

std::string DefaultLibrary() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
  std::size_t slash = exe.rfind('/');
  return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) +
         "/libw_velquora.so";
}

// A whole decimal number in [min, max].
long Number(const std::string& option, const std::string& text, long min, long max) {
  long value = 0;
  bool ok = !text.empty() && text.size() <= 10;
  bool negative = ok && text[0] == '-' && min < 0;
  for (std::size_t i = negative ? 1 : 0; ok && i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') ok = false;
    if (ok) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (!ok || (negative && text.size() == 1) || value < min || value > max)
    throw UsageError(option + " takes a number " + std::to_string(min) + ".." +
                     std::to_string(max) + ", not \"" + text + "\"");
  return value;
}

// What a document holds, as far as the host needs to know: how many records, and the attribute
// names of the first (which tell goods from groups from shops). Nothing is judged here.
struct DocumentSummary {
  bool parsed = false;
  std::size_t records = 0;
  std::vector<std::string> first_attributes;
};

DocumentSummary Summarize(const std::string& text) {
  DocumentSummary s;
  struct State {
    DocumentSummary* s;
    int depth = 0;
  } state{&s};
  XML_Parser p = XML_ParserCreate(nullptr);
  if (!p) return s;
  XML_SetUserData(p, &state);
  XML_SetElementHandler(
      p,
      [](void* data, const XML_Char* name, const XML_Char** atts) {
        auto* st = static_cast<State*>(data);
        if (++st->depth == 2 && std::strcmp(name, "Record") == 0) {
          if (st->s->records++ == 0) {
            for (int i = 0; atts[i]; i += 2) st->s->first_attributes.emplace_back(atts[i]);
          }
        }
      },
      [](void* data, const XML_Char*) { --static_cast<State*>(data)->depth; });
  s.parsed =
      XML_Parse(p, text.data(), static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX)), 1) ==
      XML_STATUS_OK;
  XML_ParserFree(p);
  return s;
}

// Russian words after a count: "1 товар", "2 товара", "5 товаров".
struct Noun {
  const char* one;
  const char* few;
  const char* many;
  bool feminine;
};
constexpr Noun kGoods{"товар", "товара", "товаров", false};
constexpr Noun kGroups{"группа", "группы", "групп", true};
constexpr Noun kShops{"магазин", "магазина", "магазинов", false};
constexpr Noun kRecords{"запись", "записи", "записей", true};

std::string Counted(std::size_t n, const Noun& noun) {
  std::size_t tens = n % 100, units = n % 10;
  const char* word = tens >= 11 && tens <= 14   ? noun.many
                     : units == 1               ? noun.one
                     : units >= 2 && units <= 4 ? noun.few
                                                : noun.many;
  return std::to_string(n) + " " + word;
}

// After "из": "из 1 товара", "из 21 группы", "из 300 товаров".
std::string OfCounted(std::size_t n, const Noun& noun) {
  return std::to_string(n) + " " + (n % 10 == 1 && n % 100 != 11 ? noun.few : noun.many);
}

std::string Written(std::size_t n, const Noun& noun) {
  bool singular = n % 10 == 1 && n % 100 != 11;
  return std::string(singular ? (noun.feminine ? "записана " : "записан ") : "записано ") +
         Counted(n, noun);
}

// "68,2 с": seconds with a decimal comma, as the summary is in Russian.
std::string SecondsText(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", seconds);
  std::string s = buf;
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s + " с";
}

// ---- interruption ----

std::atomic<bool> g_interrupted{false};

struct RunningUpload {
  std::string label;
  const ProgressDisplay* display = nullptr;
  std::size_t slot = 0;
  const Noun* noun = nullptr;
  std::optional<std::size_t> total;
};
std::mutex g_running_mutex;
std::vector<RunningUpload> g_running;

// The scale's state after an upload stopped by the last status line the driver reported.
std::string StoppedText(const std::optional<velquora::host::StatusProgress>& last,
                        std::optional<std::size_t> total, const Noun& noun) {
  if (!last) {
    return "до первой строки состояния: неизвестно, сколько записей весы приняли" +
           (total ? " из " + std::to_string(*total) : std::string()) +
           "; весы могут хранить начало документа и прежние записи";
  }
  return "по последней строке состояния весы приняли " + std::to_string(last->done) + " из " +
         OfCounted(last->total, noun) +
         "; весы могут хранить эти записи (и, возможно, несколько следующих) вместе с прежними";
}

// SIGINT is blocked in every thread and taken here: the driver's call cannot be cut short, so the
// first Ctrl-C lets it return and stops what would come after; the second ends the process at once.
void WatchSignals(sigset_t set) {
  for (int count = 0;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (++count == 1) {
      g_interrupted = true;
      std::fputs(
          "\nvelquora-host: остановка после возврата текущего вызова драйвера (вызов нельзя "
          "прервать на середине); Ctrl-C ещё раз — выйти сразу\n",
          stderr);
      continue;
    }
    std::lock_guard lock(g_running_mutex);
    for (const RunningUpload& u : g_running) {
      std::string text = StoppedText(u.display->Last(u.slot), u.total, *u.noun);
      std::fprintf(stderr, "\nvelquora-host: %s%sпрервано: %s\n", u.label.c_str(),
                   u.label.empty() ? "" : ": ", text.c_str());
    }
    std::fflush(stderr);
    _exit(kInterrupted);
  }
}

// ---- one scale's job ----

struct Options {
  std::string lib_path = DefaultLibrary();
  std::string class_name;
  bool deep_bind = false, status_line_throws = false, quiet = false, json = false, version = false;
  std::vector<std::string> scales;  // ADDR[:PORT] as given
  std::optional<long> port;
  std::string kind;  // for check
  struct Setting {
    std::u16string name;
    Value value;
    std::string source;  // "command line", "settings file"
  };
  std::vector<Setting> settings;
  std::vector<std::string> rest;
};

struct JobResult {
  std::string scale;  // "address:port", empty when none was given
  bool ok = false;
  int code = kOk;
  std::string error;
  std::string output;  // test: the driver's answer; call: what it returned
  std::optional<std::size_t> records, total;
  double seconds = 0;
  bool interrupted = false;
};

// The settings as a host's form would hand them over: given ones, then the page's defaults.
struct AppliedSetting {
  std::string name, value, source;
};

class Job {
 public:
  Job(Component& c, ProgressDisplay& display, std::size_t slot, const Options& o, bool many,
      std::string label)
      : c_(c), display_(display), slot_(slot), options_(o), many_(many), label_(std::move(label)) {
    c_.connection().echo = [this](const std::string& line) { Echo(line); };
  }

  std::string LastError() {
    CallResult r = c_.Call(u"GetLastError", {std::u16string()});
    return r.args.empty() ? "" : velquora::host::ValueText(r.args[0]);
  }

  // Calls a Boolean method; on false records the driver's error in `result`.
  bool Run(const std::u16string& method, std::vector<Value> args, JobResult& result,
           CallResult* out = nullptr) {
    CallResult r = c_.Call(method, std::move(args));
    if (out) *out = r;
    bool ok = r.ok && (!std::holds_alternative<bool>(r.result) || std::get<bool>(r.result));
    if (!ok) Fail(result, LastError());
    return ok;
  }

  void Fail(JobResult& result, const std::string& text) {
    result.ok = false;
    result.error = text;
    result.code = FailureCode(text);
  }

  // Sets what was given, then every other setting of the driver's page to its default.
  std::vector<AppliedSetting> ApplySettings(const std::vector<Options::Setting>& given,
                                            JobResult& result) {
    std::vector<AppliedSetting> applied;
    std::map<std::u16string, bool> set;
    for (const auto& s : given) {
      if (!Run(u"SetParameter", {s.name, s.value}, result)) return applied;
      set[Lower(s.name)] = true;
      applied.push_back({ToUtf8(s.name), velquora::host::ValueText(s.value), s.source});
    }
    CallResult page = c_.Call(u"GetParameters", {std::u16string()});
    if (page.args.empty()) return applied;
    for (const auto& p : PageParameters(velquora::host::ValueText(page.args[0]))) {
      if (set.count(Lower(ToUtf16(p.name)))) continue;
      Value v = ToUtf16(p.value);
      if (p.type == "Number") {
        char* end = nullptr;
        long n = std::strtol(p.value.c_str(), &end, 10);
        if (!p.value.empty() && *end == 0) v = static_cast<std::int32_t>(n);
      } else if (p.type == "Boolean") {
        v = p.value == "true";
      }
      if (!Run(u"SetParameter", {ToUtf16(p.name), v}, result)) return applied;
      applied.push_back({p.name, p.value, "page default"});
    }
    return applied;
  }

  // One upload in one call, as a host makes it.
  void Upload(const std::u16string& method, std::vector<Value> args, const Noun& noun,
              std::optional<std::size_t> total, JobResult& result) {
    {
      std::lock_guard lock(g_running_mutex);
      g_running.push_back({result.scale, &display_, slot_, &noun, total});
    }
    CallResult r = c_.Call(method, std::move(args));
    {
      std::lock_guard lock(g_running_mutex);
      for (auto it = g_running.begin(); it != g_running.end(); ++it) {
        if (it->slot == slot_) {
          g_running.erase(it);
          break;
        }
      }
    }
    result.ok = r.ok && std::holds_alternative<bool>(r.result) && std::get<bool>(r.result);
    display_.Finish(slot_, result.ok);
    auto last = display_.Last(slot_);
    if (last)
      result.total = last->total;
    else if (total)
      result.total = total;
    if (result.ok) {
      result.records = result.total;
    } else {
      Fail(result, LastError());
      if (last) result.records = last->done;
      result.output = StoppedText(last, result.total, noun);
      // The driver's text says how far the upload got, or that the document failed its check
      // before anything was sent: that is better than the last status line.
      static const std::regex kWritten("записано ([0-9]+) из ([0-9]+)\\)$");
      static const std::regex kChecked("^[^(]*\\(запись [0-9]+, строка [0-9]+");
      std::smatch m;
      if (std::regex_search(result.error, m, kWritten)) {
        result.records = std::stoul(m[1].str());
        result.total = std::stoul(m[2].str());
        result.output = "весы приняли " + m[1].str() + " из " + OfCounted(*result.total, noun) +
                        "; весы хранят эти записи вместе с прежними";
      } else if (std::regex_search(result.error, kChecked)) {
        result.records = 0;
        result.output = "документ не прошёл проверку: на весы ничего не отправлено";
      }
    }
  }

 private:
  struct PageParameter {
    std::string name, type, value;
  };

  static std::u16string Lower(std::u16string s) {
    for (char16_t& ch : s) {
      if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
    }
    return s;
  }

  static std::vector<PageParameter> PageParameters(const std::string& xml) {
    std::vector<PageParameter> out;
    XML_Parser p = XML_ParserCreate(nullptr);
    if (!p) return out;
    XML_SetUserData(p, &out);
    XML_SetStartElementHandler(p, [](void* data, const XML_Char* name, const XML_Char** atts) {
      if (std::strcmp(name, "Parameter") != 0) return;
      PageParameter param;
      for (int i = 0; atts[i]; i += 2) {
        if (!std::strcmp(atts[i], "Name")) param.name = atts[i + 1];
        if (!std::strcmp(atts[i], "TypeValue")) param.type = atts[i + 1];
        if (!std::strcmp(atts[i], "DefaultValue")) param.value = atts[i + 1];
      }
      if (!param.name.empty()) static_cast<std::vector<PageParameter>*>(data)->push_back(param);
    });
    if (XML_Parse(p, xml.data(), static_cast<int>(std::min<std::size_t>(xml.size(), INT_MAX)), 1) !=
        XML_STATUS_OK)
      out.clear();
    XML_ParserFree(p);
    return out;
  }

  void Echo(const std::string& line) {
    constexpr std::string_view kStatus = "status: ";
    if (line.rfind(kStatus, 0) == 0) {
      if (options_.status_line_throws) throw std::runtime_error("the host's status line failed");
      if (display_.Update(slot_, line.substr(kStatus.size()))) return;
    }
    display_.Message(many_ ? label_ + ": host: " + line : "host: " + line);
  }

  Component& c_;
  ProgressDisplay& display_;
  std::size_t slot_;
  const Options& options_;
  bool many_;
  std::string label_;
};

// The scale's address and port from ADDR[:PORT].
std::pair<std::string, std::optional<long>> SplitScale(const std::string& text) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return {text, std::nullopt};
  std::string addr = text.substr(0, colon);
  if (addr.empty()) throw UsageError("no address in \"" + text + "\"");
  return {addr, Number("the port of " + text, text.substr(colon + 1), 0, 65535)};
}

const Noun& NounOf(const std::string& cmd) {
  if (cmd == "upload-goods" || cmd == "check-goods") return kGoods;
  if (cmd == "upload-groups" || cmd == "check-groups") return kGroups;
  if (cmd == "upload-shops" || cmd == "check-shops") return kShops;
  return kRecords;
}

// Methods a host calls on a closed driver; every other one needs Open first.
bool NeedsOpen(const std::u16string& english_name) {
  static const char16_t* kClosed[] = {u"GetInterfaceRevision",
                                      u"GetDescription",
                                      u"GetLastError",
                                      u"GetParameters",
                                      u"SetParameter",
                                      u"Open",
                                      u"Close",
                                      u"DeviceTest",
                                      u"GetAdditionalActions",
                                      u"DoAdditionalAction"};
  for (const char16_t* m : kClosed) {
    if (english_name == m) return false;
  }
  return true;
}

Value Argument(const std::string& text) {
  if (!text.empty() && text[0] == '@')
    return ToUtf16(ReadInput(text.substr(1), "the argument file"));
  return ToUtf16(text);
}

// Runs the command on one open-able component. `doc` is the document read once for all scales.
JobResult RunJob(Job& job, Component& c, const Options& o, const std::string& cmd,
                 const std::string& doc, const DocumentSummary& summary, JobResult result,
                 std::vector<AppliedSetting>* applied_out) {
  auto start = std::chrono::steady_clock::now();
  auto finish = [&](JobResult& r) {
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.interrupted = g_interrupted;
    return r;
  };
  result.ok = true;
  std::vector<AppliedSetting> applied = job.ApplySettings(o.settings, result);
  if (applied_out) *applied_out = applied;
  if (!result.ok || cmd == "info") return finish(result);
  if (cmd == "test") {
    CallResult r;
    if (job.Run(u"DeviceTest", {std::u16string(), std::u16string()}, result, &r))
      result.output = velquora::host::ValueText(r.args[0]);
    return finish(result);
  }
  const std::vector<std::string>& rest = o.rest;
  if (cmd == "call") {
    std::u16string method = ToUtf16(rest[1]);
    long number = c.FindMethod(method);
    if (number >= 0 && NeedsOpen(c.MethodName(number, 1)) &&
        !job.Run(u"Open", {std::u16string()}, result))
      return finish(result);
    std::vector<Value> args;
    for (std::size_t i = 2; i < rest.size(); ++i) args.push_back(Argument(rest[i]));
    CallResult r = c.Call(method, args);
    std::string out = "result: " + velquora::host::ValueText(r.result) + "\n";
    // Only what the method gave back: the arguments it left as they were are not echoed.
    for (std::size_t i = 0; i < r.args.size(); ++i) {
      if (i < args.size() && r.args[i] == args[i]) continue;
      out += "arg " + std::to_string(i + 1) + ": " + velquora::host::ValueText(r.args[i]) + "\n";
    }
    result.output = out;
    result.ok = r.ok && (!std::holds_alternative<bool>(r.result) || std::get<bool>(r.result));
    if (!result.ok) job.Fail(result, job.LastError());
    if (number >= 0 && NeedsOpen(c.MethodName(number, 1))) c.Call(u"Close", {std::u16string()});
    return finish(result);
  }
  if (!job.Run(u"Open", {std::u16string()}, result)) return finish(result);
  std::optional<std::size_t> total;
  if (summary.parsed) total = summary.records;
  const std::string kind = cmd.rfind("check-", 0) == 0 ? "upload-" + cmd.substr(6) : cmd;
  const Noun& noun = NounOf(kind);
  if (kind == "upload-goods")
    job.Upload(u"UploadGoods", {std::u16string(), ToUtf16(doc), std::u16string()}, noun, total,
               result);
  else if (kind == "upload-groups")
    job.Upload(u"UploadGroups", {ToUtf16(doc)}, noun, total, result);
  else if (kind == "upload-shops")
    job.Upload(u"UploadShops", {ToUtf16(doc)}, noun, total, result);
  else if (kind == "upload-data")
    job.Upload(u"UploadData", {ToUtf16(rest[1]), ToUtf16(doc)}, noun, std::nullopt, result);
  else if (kind == "delete-good")
    job.Run(u"DeleteGood", {Argument(rest[1])}, result);
  else if (kind == "delete-group")
    job.Run(u"DeleteGroup", {Argument(rest[1])}, result);
  else if (kind == "clear-goods")
    job.Run(u"ClearGoods", {std::u16string()}, result);
  else if (kind == "clear-groups")
    job.Run(u"ClearGroups", {}, result);
  JobResult ignored;
  job.Run(u"Close", {std::u16string()}, ignored);
  return finish(result);
}

bool IsUpload(const std::string& cmd) {
  return cmd.rfind("upload-", 0) == 0 || cmd.rfind("check-", 0) == 0;
}

std::string SummaryLine(const std::string& cmd, const JobResult& r) {
  const Noun& noun = NounOf(cmd);
  const bool upload = IsUpload(cmd);
  if (r.ok) {
    if (upload && r.records) return Written(*r.records, noun) + " за " + SecondsText(r.seconds);
    if (upload) return "записано за " + SecondsText(r.seconds);
    return "готово за " + SecondsText(r.seconds);
  }
  return "остановлено за " + SecondsText(r.seconds) + ": " + r.output;
}

nlohmann::json ResultJson(const std::string& cmd, const JobResult& r) {
  nlohmann::json j = {{"command", cmd}, {"ok", r.ok}, {"exit", r.code}, {"seconds", r.seconds}};
  j["scale"] = r.scale.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.scale);
  j["records"] = r.records ? nlohmann::json(*r.records) : nlohmann::json(nullptr);
  j["total"] = r.total ? nlohmann::json(*r.total) : nlohmann::json(nullptr);
  j["error"] = r.ok ? nlohmann::json(nullptr) : nlohmann::json(r.error);
  if (!r.output.empty() && cmd == "test") j["result"] = r.output;
  if (r.interrupted) j["interrupted"] = true;
  return j;
}

void PrintInfo(Component& c, AddinLibrary& lib, const std::vector<AppliedSetting>& applied,
               bool json) {
  auto* o = c.object();
  nlohmann::json j = {{"classes", ToUtf8(lib.ClassNames())}};
  std::size_t w1 = 0, w2 = 0;
  for (long i = 0; i < o->GetNProps(); ++i) {
    w1 = std::max(w1, velquora::host::DisplayWidth(ToUtf8(c.PropName(i, 1))));
    w2 = std::max(w2, velquora::host::DisplayWidth(ToUtf8(c.PropName(i, 0))));
  }
  std::string text = "classes: " + ToUtf8(lib.ClassNames()) + "\n";
  text += "properties (" + std::to_string(o->GetNProps()) + "):\n";
  for (long i = 0; i < o->GetNProps(); ++i) {
    std::string ru = ToUtf8(c.PropName(i, 1)), en = ToUtf8(c.PropName(i, 0));
    bool writable = o->IsPropWritable(i);
    text += "  " + velquora::host::PadRight(ru, w1 + 2) + velquora::host::PadRight(en, w2 + 2) +
            (writable ? "" : "read-only") + "\n";
    j["properties"].push_back({{"name", en}, {"name_ru", ru}, {"writable", writable}});
  }
  w1 = w2 = 0;
  for (long i = 0; i < o->GetNMethods(); ++i) {
    w1 = std::max(w1, velquora::host::DisplayWidth(ToUtf8(c.MethodName(i, 1))));
    w2 = std::max(w2, velquora::host::DisplayWidth(ToUtf8(c.MethodName(i, 0))));
  }
  text += "methods (" + std::to_string(o->GetNMethods()) + "):\n";
  for (long i = 0; i < o->GetNMethods(); ++i) {
    std::string ru = ToUtf8(c.MethodName(i, 1)), en = ToUtf8(c.MethodName(i, 0));
    text += "  " + velquora::host::PadRight(ru, w1 + 2) + velquora::host::PadRight(en, w2 + 2) +
            std::to_string(o->GetNParams(i)) + "\n";
    j["methods"].push_back({{"name", en}, {"name_ru", ru}, {"parameters", o->GetNParams(i)}});
  }
  w1 = w2 = 0;
  for (const auto& s : applied) {
    w1 = std::max(w1, velquora::host::DisplayWidth(s.name));
    w2 = std::max(w2, velquora::host::DisplayWidth(s.value));
  }
  text += "settings:\n";
  for (const auto& s : applied) {
    text += "  " + velquora::host::PadRight(s.name, w1 + 2) +
            velquora::host::PadRight(s.value.empty() ? "\"\"" : s.value, w2 + 2) + s.source + "\n";
    j["settings"].push_back({{"name", s.name}, {"value", s.value}, {"source", s.source}});
  }
  for (const char16_t* doc : {u"GetDescription", u"GetParameters", u"GetAdditionalActions"}) {
    CallResult r = c.Call(doc, {std::u16string()});
    std::string value = r.args.empty() ? "" : velquora::host::ValueText(r.args[0]);
    text += "\n" + ToUtf8(doc) + ":\n" + value + "\n";
    j["documents"][ToUtf8(doc)] = value;
  }
  j["ok"] = true;
  if (json)
    std::printf("%s\n", j.dump().c_str());
  else
    std::fputs(text.c_str(), stdout);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  static const std::map<std::string, std::pair<std::u16string, std::pair<long, long>>> kIntOptions =
      {{"--commodity-font", {u"CommodityFont", {0, 9}}},
       {"--ingredient-font", {u"IngredientFont", {0, 9}}},
       {"--spec-font", {u"SpecMessageFont", {0, 9}}},
       {"--company-font", {u"CompanyFont", {0, 9}}},
       {"--label-format", {u"LabelFormatNumber", {17, 24}}}};
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError(a + " needs a value");
      return argv[++i];
    };
    if (options_end || a == "-" || a.empty() || a[0] != '-') {
      o.rest.push_back(a);
    } else if (a == "--") {
      options_end = true;
    } else if (a == "--lib") {
      o.lib_path = value();
    } else if (a == "--deepbind") {
      o.deep_bind = true;
    } else if (a == "--status-line-throws") {
      o.status_line_throws = true;
    } else if (a == "--class") {
      o.class_name = value();
    } else if (a == "--ip") {
      o.scales.push_back(value());
    } else if (a == "--ips") {
      std::string path = value();
      std::istringstream in(ReadInput(path, "the address file"));
      for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        std::size_t b = line.find_first_not_of(" \t\r"), e = line.find_last_not_of(" \t\r");
        if (b != std::string::npos) o.scales.push_back(line.substr(b, e - b + 1));
      }
    } else if (a == "--port") {
      o.port = Number(a, value(), 0, 65535);
    } else if (kIntOptions.count(a)) {
      const auto& [name, range] = kIntOptions.at(a);
      long n = Number(a, value(), range.first, range.second);
      o.settings.push_back({name, static_cast<std::int32_t>(n), "command line"});
    } else if (a == "--log") {
      o.settings.push_back({u"LogEnabled", true, "command line"});
    } else if (a == "--ext-log") {
      o.settings.push_back({u"ExtLogEnabled", true, "command line"});
    } else if (a == "--settings") {
      std::string path = value();
      std::istringstream in(ReadInput(path, "the settings file"));
      int number = 0;
      for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
          throw InputError(path + ":" + std::to_string(number) + ": not NAME=VALUE");
        o.settings.push_back(
            {ToUtf16(line.substr(0, eq)), ToUtf16(line.substr(eq + 1)), "settings file"});
      }
    } else if (a == "--kind") {
      o.kind = value();
      if (o.kind != "goods" && o.kind != "groups" && o.kind != "shops")
        throw UsageError("--kind takes goods, groups or shops, not \"" + o.kind + "\"");
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "-q" || a == "--quiet") {
      o.quiet = true;
    } else {
      throw UsageError("unknown option " + a);
    }
  }
  return o;
}

std::unique_ptr<AddinLibrary> LoadLibrary(const std::string& path, bool deep_bind) {
  try {
    return std::make_unique<AddinLibrary>(path, deep_bind);
  } catch (const std::exception& e) {
    throw InputError(std::string("cannot load the library: ") + e.what());
  }
}

int PrintVersion(const Options& o) {
  std::printf("velquora-host %s\n", VELQUORA_VERSION);
  char real[PATH_MAX];
  std::string path = realpath(o.lib_path.c_str(), real) ? real : o.lib_path;
  std::unique_ptr<AddinLibrary> lib = LoadLibrary(path, o.deep_bind);
  std::u16string names = lib->ClassNames();
  Component c(*lib, names.substr(0, names.find(u'|')));
  CallResult r = c.Call(u"GetDescription", {std::u16string()});
  std::string version;
  if (!r.args.empty()) {
    std::string xml = velquora::host::ValueText(r.args[0]);
    std::size_t at = xml.find("DriverVersion=\"");
    if (at != std::string::npos) {
      at += 15;
      version = xml.substr(at, xml.find('"', at) - at);
    }
  }
  std::printf("library %s %s\n", version.empty() ? "(no version)" : version.c_str(), path.c_str());
  return kOk;
}

int Main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--") break;
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::fputs(kUsage, stdout);
      return kOk;
    }
  }
  Options o = ParseOptions(argc, argv);
  if (o.version) return PrintVersion(o);
  if (o.rest.empty()) throw UsageError("no command");
  std::string cmd = o.rest[0];
  static const std::map<std::string, std::size_t> kArgs = {
      {"info", 0},         {"test", 0},         {"upload-goods", 1}, {"upload-groups", 1},
      {"upload-shops", 1}, {"upload-data", 2},  {"delete-good", 1},  {"delete-group", 1},
      {"clear-goods", 0},  {"clear-groups", 0}, {"check", 1}};
  if (cmd == "call") {
    if (o.rest.size() < 2) throw UsageError("call needs a method name");
  } else if (!kArgs.count(cmd)) {
    throw UsageError("unknown command " + cmd);
  } else if (o.rest.size() != kArgs.at(cmd) + 1) {
    throw UsageError(cmd + " takes " + std::to_string(kArgs.at(cmd)) + " argument(s)");
  }
  const bool check = cmd == "check";
  if (check && !o.scales.empty())
    throw UsageError("check uses a scale emulator of its own: it takes no --ip");
  if (o.scales.size() > 1 && (cmd == "info" || cmd == "call"))
    throw UsageError(cmd + " runs on one scale only");

  // The document is read once, before anything is loaded or sent.
  std::string doc;
  DocumentSummary summary;
  if (cmd == "upload-goods" || cmd == "upload-groups" || cmd == "upload-shops" || check) {
    doc = ReadDocument(o.rest[1]);
    summary = Summarize(doc);
  } else if (cmd == "upload-data") {
    doc = ReadInput(o.rest[2], "the data file");
  }

  std::unique_ptr<velquora::emulator::ScaleEmulator> own_scale;
  if (check) {
    std::string kind = o.kind;
    if (kind.empty()) {
      auto has = [&](const char* name) {
        for (const auto& a : summary.first_attributes) {
          if (a == name) return true;
        }
        return false;
      };
      if (!summary.parsed || summary.records == 0)
        kind = "goods";  // the driver says what is wrong with it
      else
        kind = has("PLU") ? "goods" : has("ImageNumber") ? "groups" : "shops";
    }
    cmd = "check-" + kind;
    own_scale = std::make_unique<velquora::emulator::ScaleEmulator>("127.0.0.1", 0);
    own_scale->Start();
    o.scales = {"127.0.0.1:" + std::to_string(own_scale->port())};
  }

  std::vector<std::string> labels;
  std::vector<std::pair<std::string, std::optional<long>>> targets;
  for (const std::string& s : o.scales) {
    auto t = SplitScale(s);
    if (!t.second) t.second = o.port;
    targets.push_back(t);
    labels.push_back(t.first + (t.second ? ":" + std::to_string(*t.second) : ""));
  }
  const bool many = targets.size() > 1;
  if (targets.empty()) {
    targets.push_back({"", o.port});
    labels.push_back(o.port ? ":" + std::to_string(*o.port) : "");
  }

  std::unique_ptr<AddinLibrary> lib = LoadLibrary(o.lib_path, o.deep_bind);
  std::string class_name = o.class_name;
  if (class_name.empty()) {
    std::u16string names = lib->ClassNames();
    class_name = ToUtf8(names.substr(0, names.find(u'|')));
  }

  // SIGINT is taken by a thread of its own from here on (every later thread inherits the mask).
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(WatchSignals, signals).detach();

  ProgressDisplay::Mode mode = o.quiet                 ? ProgressDisplay::Mode::kOff
                               : isatty(STDERR_FILENO) ? ProgressDisplay::Mode::kTerminal
                                                       : ProgressDisplay::Mode::kLines;
  ProgressDisplay display(stderr, mode, velquora::host::TerminalColumns(STDERR_FILENO),
                          many ? labels : std::vector<std::string>{""});

  // Components are made one after another here; their jobs run side by side.
  const std::string source = check ? "the check's own emulator" : "command line";
  std::vector<Options> per_scale(targets.size(), o);
  std::vector<std::unique_ptr<Component>> components;
  std::vector<std::unique_ptr<Job>> jobs;
  std::vector<JobResult> results(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (!targets[i].first.empty())
      per_scale[i].settings.push_back({u"IPAddress", ToUtf16(targets[i].first), source});
    if (targets[i].second)
      per_scale[i].settings.push_back(
          {u"IPPort", static_cast<std::int32_t>(*targets[i].second), source});
    components.push_back(std::make_unique<Component>(*lib, ToUtf16(class_name)));
    jobs.push_back(
        std::make_unique<Job>(*components[i], display, i, per_scale[i], many, labels[i]));
    results[i].scale = labels[i];
  }
  std::vector<AppliedSetting> applied;
  auto run = [&](std::size_t i) {
    try {
      results[i] = RunJob(*jobs[i], *components[i], per_scale[i], cmd, doc, summary, results[i],
                          i == 0 ? &applied : nullptr);
    } catch (const InputError& e) {  // an argument file of delete-good, call
      results[i].ok = false;
      results[i].code = kInputFile;
      results[i].error = e.what();
    } catch (const std::exception& e) {
      results[i].ok = false;
      results[i].code = kDriverFailed;
      results[i].error = e.what();
    }
  };
  if (!many) {
    run(0);
  } else {
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < targets.size(); ++i) threads.emplace_back(run, i);
    for (auto& t : threads) t.join();
  }

  int code = kOk;
  for (const JobResult& r : results) {
    if (!r.ok) {
      code = r.code;
      break;
    }
  }
  if (cmd == "info") {
    if (code == kOk) PrintInfo(*components[0], *lib, applied, o.json);
  } else if (o.json) {
    for (const JobResult& r : results) {
      nlohmann::json j = ResultJson(cmd, r);
      if (check) j["received_by_emulator"] = own_scale->records_received();
      if (cmd == "call") j["output"] = r.output;
      std::printf("%s\n", j.dump().c_str());
    }
  } else if (many) {
    std::size_t w = 5;
    for (const auto& l : labels) w = std::max(w, velquora::host::DisplayWidth(l));
    std::string table =
        velquora::host::PadRight("scale", w + 2) + "result  records        time  error\n";
    for (const JobResult& r : results) {
      std::string records = r.records ? std::to_string(*r.records) : "?";
      if (r.total) records += "/" + std::to_string(*r.total);
      char line[64];
      std::snprintf(line, sizeof line, "%-6s  %-13s ", r.ok ? "ok" : "FAILED", records.c_str());
      std::string time = SecondsText(r.seconds);  // padded by characters: "с" is two bytes
      time.insert(0, 6 - std::min<std::size_t>(6, velquora::host::DisplayWidth(time)), ' ');
      table += velquora::host::PadRight(r.scale, w + 2) + line + time + "  " + r.error + "\n";
    }
    std::fputs(table.c_str(), stdout);
  } else {
    const JobResult& r = results[0];
    if (!r.output.empty() && (cmd == "call" || (cmd == "test" && r.ok)))
      std::fputs((r.output + (r.output.back() == '\n' ? "" : "\n")).c_str(), stdout);
    if (!r.ok) std::fprintf(stderr, "error: %s\n", r.error.c_str());
    if (check && r.ok) {
      std::printf("OK: %s на эмулятор %s за %s; больше никуда ничего не отправлялось\n",
                  Written(own_scale->records_received(), NounOf(cmd)).c_str(), r.scale.c_str(),
                  SecondsText(r.seconds).c_str());
    } else if (check) {
      std::fprintf(
          stderr,
          "проверка не пройдена (эмулятор %s принял %zu); больше никуда ничего не отправлялось\n",
          r.scale.c_str(), own_scale->records_received());
    } else if (cmd != "call" && cmd != "test" && (r.ok || IsUpload(cmd))) {
      std::fprintf(r.ok ? stdout : stderr, "%s\n", SummaryLine(cmd, r).c_str());
    }
  }
  std::fflush(stdout);
  if (g_interrupted) {
    std::fprintf(stderr, "velquora-host: прервано\n");
    return kInterrupted;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "velquora-host: %s\nTry 'velquora-host --help'.\n", e.what());
    return kBadUsage;
  } catch (const InputError& e) {
    std::fprintf(stderr, "velquora-host: %s\n", e.what());
    return kInputFile;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velquora-host: %s\n", e.what());
    return kDriverFailed;
  }
}
