// Upload throughput and cost figures (not a test): prints them, asserts nothing.
//
// Memory figures come from child processes, one per document, that talk to a scale emulator in
// a process of its own: each child resets its peak resident size right before the host's call
// and reads it right after, so the figure is what the driver added on top of the host's text.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "addin_library.h"
#include "common/text.h"
#include "driver/goods_reader.h"
#include "driver/host_document.h"
#include "protocol/frames.h"
#include "scale_emulator.h"

namespace {

using namespace velquora;
using Clock = std::chrono::steady_clock;

std::u16string GoodsRecords(int first, int n) {
  std::u16string doc;
  for (int i = first; i < first + n; ++i) {
    std::u16string k = IntToText16(i);
    doc += u"<Record PLU=\"" + k + u"\" Code=\"" + k + u"\" EANData=\"24" +
           IntToText16(10000 + i % 90000) + u"\" Name=\"Сыр Российский||весовой " + k +
           u"\" GroupCode=\"" + IntToText16(i % 10 + 1) + u"\" Price=\"" +
           IntToText16(100 + i % 5000) + u",50\" SellByDate=\"5\" SellByTime=\"0\" PLUTare=\"" +
           IntToText16(i % 3 == 0 ? 15 : 0) + u"\" IsWeightGoods=\"" +
           (i % 2 ? u"true" : u"false") +
           u"\" Description=\"молоко||соль||закваска\" SpecMessage=\"Хранить при +4\"/>";
  }
  return doc;
}

std::u16string GoodsDocument(int n) {
  return u"<Table>" + GoodsRecords(1, n) + u"</Table>";
}

// Goods records until the host's text (UTF-16) reaches `bytes`; `records` receives their count.
std::u16string GoodsDocumentOfSize(std::size_t bytes, int& records) {
  std::u16string doc = u"<Table>";
  records = 0;
  while (doc.size() * 2 < bytes) {
    doc += GoodsRecords(records + 1, 1000);
    records += 1000;
  }
  return doc + u"</Table>";
}

// Image records of `record_bytes` bytes each, as hex text, until the text reaches `bytes`.
std::u16string HexData(std::size_t bytes, std::size_t record_bytes, int& records) {
  std::u16string data;
  records = 0;
  // Record number, size, a 0x00 byte, then the picture's bytes.
  const std::u16string fill = u"00" + std::u16string((record_bytes - 7) * 2, u'A');
  char head[16];
  while (data.size() * 2 < bytes) {
    ++records;
    std::snprintf(head, sizeof head, "%08d%04X", records % 10000,
                  static_cast<unsigned>(record_bytes));
    data += ToUtf16(head) + fill;
  }
  return data;
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

// Makes the kernel's peak resident size start again from the present size.
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

struct Measured {
  int records = 0;
  double seconds = 0;
  double host_text_mib = 0;
  double growth_mib = -1;  // negative: the peak could not be reset here
  bool ok = false;
};

void Configure(host::Component& c, std::uint16_t port, bool logging) {
  c.Call(u"SetParameter", {std::u16string(u"IPAddress"), std::u16string(u"127.0.0.1")});
  c.Call(u"SetParameter", {std::u16string(u"IPPort"), std::int32_t{port}});
  c.Call(u"SetParameter", {std::u16string(u"LogEnabled"), logging});
  c.Call(u"SetParameter", {std::u16string(u"ExtLogEnabled"), logging});
  c.Call(u"Open", {std::u16string()});
}

// One host call with arguments already in the host's own records, timed and with the peak
// resident size the call added.
Measured MeasureCall(host::Component& c, const std::u16string& method,
                     const std::vector<host::Value>& args, int records, std::size_t text_chars) {
  std::vector<host::TVariant> recs;
  for (const auto& a : args) recs.push_back(host::ToRecord(a, c.memory()));
  host::TVariant ret;
  std::memset(static_cast<void*>(&ret), 0, sizeof ret);
  long number = c.FindMethod(method);
  Measured m;
  m.records = records;
  m.host_text_mib = static_cast<double>(text_chars) * 2 / 1048576.0;
  bool reset = ResetPeak();
  long before = StatusKb("VmRSS:");
  auto start = Clock::now();
  bool called = c.object()->CallAsFunc(number, &ret, recs.data(), static_cast<long>(recs.size()));
  m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  long peak = StatusKb("VmHWM:");
  if (reset && before >= 0 && peak >= 0) m.growth_mib = static_cast<double>(peak - before) / 1024;
  m.ok = called && host::FromRecord(ret) == host::Value(true);
  host::ReleaseRecord(ret, c.memory());
  for (auto& r : recs) host::ReleaseRecord(r, c.memory());
  return m;
}

// Runs `work` in a child process and hands back what it measured.
template <typename F>
Measured InChild(F work) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Measured m = work();
    ssize_t written = write(fds[1], &m, sizeof m);
    _exit(written == static_cast<ssize_t>(sizeof m) ? 0 : 1);
  }
  close(fds[1]);
  Measured m;
  if (pid < 0 || read(fds[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) m = Measured{};
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return m;
}

// A scale emulator in a process of its own, so that what it keeps is not counted.
struct EmulatorProcess {
  pid_t pid = -1;
  std::uint16_t port = 0;
  EmulatorProcess() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(fds[0]);
      emulator::ScaleEmulator scale;
      scale.Start();
      std::uint16_t p = scale.port();
      if (write(fds[1], &p, sizeof p) != sizeof p) _exit(1);
      close(fds[1]);
      for (;;) pause();  // until the benchmark ends it
    }
    close(fds[1]);
    if (pid < 0 || read(fds[0], &port, sizeof port) != sizeof port) port = 0;
    close(fds[0]);
  }
  ~EmulatorProcess() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

Measured UploadGoodsInChild(const std::string& lib_path, std::uint16_t port, int n,
                            std::size_t doc_bytes = 0) {
  return InChild([&] {
    host::AddinLibrary lib(lib_path);
    host::Component c(lib, u"w_velquora");
    Configure(c, port, false);
    int records = n;
    std::u16string doc = doc_bytes ? GoodsDocumentOfSize(doc_bytes, records) : GoodsDocument(n);
    return MeasureCall(c, u"UploadGoods", {std::u16string(), doc, std::u16string()}, records,
                       doc.size());
  });
}

Measured UploadDataInChild(const std::string& lib_path, std::uint16_t port, std::size_t bytes) {
  return InChild([&] {
    host::AddinLibrary lib(lib_path);
    host::Component c(lib, u"w_velquora");
    Configure(c, port, false);
    int records = 0;
    std::u16string data = HexData(bytes, 4000, records);
    return MeasureCall(c, u"UploadData", {std::u16string(u"F37"), data}, records, data.size());
  });
}

double UploadThroughHost(host::AddinLibrary& lib, std::uint16_t port, const std::u16string& doc,
                         int records, bool logging) {
  host::Component c(lib, u"w_velquora");
  Configure(c, port, logging);
  auto start = Clock::now();
  host::CallResult r = c.Call(u"UploadGoods", {std::u16string(), doc, std::u16string()});
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!r.ok || r.result != host::Value(true)) std::fprintf(stderr, "upload failed\n");
  c.Call(u"SetParameter", {std::u16string(u"LogEnabled"), false});
  c.Call(u"Open", {std::u16string()});
  return records / seconds;
}

double ReplayBare(std::uint16_t port, const std::vector<std::string>& frames) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  auto start = Clock::now();
  for (const auto& f : frames) {
    send(fd, f.data(), f.size(), 0);
    char answer;
    recv(fd, &answer, 1, 0);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(fd);
  return static_cast<double>(frames.size()) / seconds;
}

// `fixed`: what a call costs whatever its size (connecting, the quiet wait after the last answer),
// taken off before the time per record is worked out a second time.
void PrintScaling(const char* label, const Measured& m, double fixed) {
  if (!m.ok) {
    std::printf("  %-22s the upload failed\n", label);
    return;
  }
  std::printf(
      "  %-22s %7d records %7.2f us/record (%6.2f without the fixed part)  host text %6.1f "
      "MiB  peak growth ",
      label, m.records, m.seconds / m.records * 1e6, (m.seconds - fixed) / m.records * 1e6,
      m.host_text_mib);
  if (m.growth_mib < 0)
    std::printf("(not measurable here)\n");
  else
    std::printf("%7.1f MiB = %.2f x the text\n", m.growth_mib, m.growth_mib / m.host_text_mib);
}

}  // namespace

int main(int argc, char** argv) {
  std::string lib_path = VELQUORA_BIN_DIR "/libw_velquora.so";
  bool profile = false;  // one upload through the host only, for a profiler
  bool profile_logged = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "Usage: upload-bench [--profile | --profile-logged] [LIBRARY]\n\n"
          "Prints upload throughput and cost figures (not a test); run a release build on a\n"
          "quiet machine.\n"
          "  LIBRARY           the driver library (default: %s)\n"
          "  --profile         one upload of 10000 goods through the host only, for a profiler\n"
          "  --profile-logged  the same with the driver's logs on\n",
          lib_path.c_str());
      return 0;
    } else if (arg == "--profile") {
      profile = true;
    } else if (arg == "--profile-logged") {
      profile = profile_logged = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "upload-bench: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    } else {
      lib_path = arg;
    }
  }
  if (access(lib_path.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "upload-bench: cannot read the library %s\n", lib_path.c_str());
    return 2;
  }
  constexpr int kRecords = 10000;
  if (profile) {
    host::AddinLibrary lib(lib_path);
    emulator::ScaleEmulator scale;
    scale.Start();
    std::u16string doc = GoodsDocument(kRecords);
    std::printf("%.0f goods/s\n",
                UploadThroughHost(lib, scale.port(), doc, kRecords, profile_logged));
    return 0;
  }

  // Children first, while this process has no threads of its own.
  std::printf(
      "cost as the document grows (targets: flat time per record, growth <= 2 x the "
      "host's text):\n");
  {
    EmulatorProcess scale;
    if (scale.port == 0) {
      std::fprintf(stderr, "the emulator did not start\n");
      return 1;
    }
    // The fixed part: the fastest of a few uploads of two goods.
    double fixed = 1e9;
    for (int i = 0; i < 5; ++i) {
      Measured two = UploadGoodsInChild(lib_path, scale.port, 2);
      if (two.ok) fixed = std::min(fixed, two.seconds);
    }
    if (fixed == 1e9) fixed = 0;
    std::printf("  fixed part of every call (an upload of 2 goods): %.1f ms\n", fixed * 1e3);
    for (int n : {1000, 10000, 100000, 200000}) {
      std::string label = std::to_string(n) + " goods";
      PrintScaling(label.c_str(), UploadGoodsInChild(lib_path, scale.port, n), fixed);
    }
    PrintScaling("100 MB goods document", UploadGoodsInChild(lib_path, scale.port, 0, 100000000),
                 fixed);
    PrintScaling("UploadData, 100 MB", UploadDataInChild(lib_path, scale.port, 100000000), fixed);
  }

  host::AddinLibrary lib(lib_path);
  std::u16string doc = GoodsDocument(kRecords);

  // Parsing, then reading, checking and encoding alone: no I/O.
  double cpu0 = CpuSeconds();
  driver::HostDocument parsed = driver::HostDocument::Parse(doc);
  double cpu1 = CpuSeconds();
  protocol::LabelSettings label{6, 0, 1, 4, 17};
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < parsed.RecordCount(); ++i) {
    bytes +=
        protocol::BuildPluRecord(driver::ReadGoodsRecord(parsed.Record(i)), label).Bytes().size();
  }
  double cpu2 = CpuSeconds();

  emulator::ScaleEmulator scale;
  scale.Start();
  UploadThroughHost(lib, scale.port(), doc, kRecords, false);  // warm-up, and frames to replay
  std::vector<std::string> frames = scale.Frames();
  scale.Clear();
  // Alternate the three and keep the best of each: a shared 2-core machine is noisy. The scale's
  // busy span (first frame in to last answer out) leaves out what comes before the first frame
  // (reading the whole document, connecting) and the quiet wait after the last answer.
  double host_rate = 0, bare_rate = 0, logged_rate = 0;
  double host_span = 1e9, bare_span = 1e9;
  auto span_of = [&] {
    double s = std::chrono::duration<double>(scale.BusySpan()).count();
    scale.Clear();
    return s > 0 ? s : 1e9;
  };
  for (int round = 0; round < 3; ++round) {
    host_rate = std::max(host_rate, UploadThroughHost(lib, scale.port(), doc, kRecords, false));
    host_span = std::min(host_span, span_of());
    bare_rate = std::max(bare_rate, ReplayBare(scale.port(), frames));
    bare_span = std::min(bare_span, span_of());
    logged_rate = std::max(logged_rate, UploadThroughHost(lib, scale.port(), doc, kRecords, true));
    scale.Clear();
  }

  // Settings the driver does not know, each registered by the host's SetParameter.
  constexpr int kSettings = 20000;
  double settings_seconds = 0;
  {
    host::Component c(lib, u"w_velquora");
    auto start = Clock::now();
    for (int i = 0; i < kSettings; ++i) {
      c.Call(u"SetParameter", {u"Настройка" + IntToText16(i), std::int32_t{i}});
    }
    settings_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }

  std::printf("\n%d goods per upload (%zu record bytes), in-process emulator:\n", kRecords, bytes);
  std::printf("  full host path, logging off (best of 3):     %.0f goods/s\n", host_rate);
  std::printf("  bare socket replay, same frames (best of 3): %.0f frames/s\n", bare_rate);
  std::printf("  ratio host / bare (target >= 0.97):          %.2f\n", host_rate / bare_rate);
  std::printf("  same, while the scale is busy (first frame to last answer): %.2f\n",
              bare_span / host_span);
  std::printf("  log and exchange log on (best of 3):         %.0f goods/s\n", logged_rate);
  std::printf("  ratio logging on / off (target >= 0.67):     %.2f\n", logged_rate / host_rate);
  std::printf("  parse CPU:                                   %.2f us/record\n",
              (cpu1 - cpu0) / kRecords * 1e6);
  std::printf("  read + check + encode CPU (target <= 2 us):  %.2f us/record\n",
              (cpu2 - cpu1) / kRecords * 1e6);
  std::printf("  %d unknown settings registered:          %.2f s\n", kSettings, settings_seconds);
  return 0;
}
