// Upload throughput and cost figures (not a test): prints them, asserts nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "addin_library.h"
#include "common/text.h"
#include "device/records.h"
#include "driver/goods_reader.h"
#include "driver/host_document.h"
#include "scale_emulator.h"

namespace {

using namespace velquora;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 10000;

std::u16string GoodsDocument(int n) {
  std::u16string doc = u"<Table>";
  for (int i = 1; i <= n; ++i) {
    std::u16string k = IntToText16(i);
    doc += u"<Record PLU=\"" + k + u"\" Code=\"" + k + u"\" EANData=\"24" +
           IntToText16(10000 + i % 90000) + u"\" Name=\"Сыр Российский||весовой " + k +
           u"\" GroupCode=\"" + IntToText16(i % 10 + 1) + u"\" Price=\"" +
           IntToText16(100 + i % 5000) + u",50\" SellByDate=\"5\" SellByTime=\"0\" PLUTare=\"" +
           IntToText16(i % 3 == 0 ? 15 : 0) + u"\" IsWeightGoods=\"" +
           (i % 2 ? u"true" : u"false") +
           u"\" Description=\"молоко||соль||закваска\" SpecMessage=\"Хранить при +4\"/>";
  }
  return doc + u"</Table>";
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double UploadThroughHost(host::AddinLibrary& lib, emulator::ScaleEmulator& scale,
                         const std::u16string& doc, bool logging) {
  host::Component c(lib, u"w_velquora");
  c.Call(u"SetParameter", {std::u16string(u"IPAddress"), std::u16string(u"127.0.0.1")});
  c.Call(u"SetParameter", {std::u16string(u"IPPort"), std::int32_t{scale.port()}});
  c.Call(u"SetParameter", {std::u16string(u"LogEnabled"), logging});
  c.Call(u"SetParameter", {std::u16string(u"ExtLogEnabled"), logging});
  c.Call(u"Open", {std::u16string()});
  auto start = Clock::now();
  host::CallResult r = c.Call(u"UploadGoods", {std::u16string(), doc, std::u16string()});
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!r.ok || r.result != host::Value(true)) std::fprintf(stderr, "upload failed\n");
  c.Call(u"SetParameter", {std::u16string(u"LogEnabled"), false});
  c.Call(u"Open", {std::u16string()});
  return kRecords / seconds;
}

double ReplayBare(emulator::ScaleEmulator& scale, const std::vector<std::string>& frames) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(scale.port());
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

}  // namespace

int main(int argc, char** argv) {
  std::string lib_path = argc > 1 ? argv[1] : VELQUORA_BIN_DIR "/libw_velquora.so";
  std::u16string doc = GoodsDocument(kRecords);
  host::AddinLibrary lib(lib_path);
  emulator::ScaleEmulator scale;
  scale.Start();

  // Reading, checking and encoding alone, no I/O.
  double cpu0 = CpuSeconds();
  driver::HostDocument parsed = driver::HostDocument::Parse(doc);
  device::LabelSettings label{6, 0, 1, 4, 17};
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < parsed.RecordCount(); ++i) {
    bytes +=
        device::BuildPluRecord(driver::ReadGoodsRecord(parsed.Record(i)), label).Bytes().size();
  }
  double encode_us = (CpuSeconds() - cpu0) / kRecords * 1e6;

  long rss_before = PeakRssKb();
  UploadThroughHost(lib, scale, doc, false);  // warm-up, and the frames to replay
  long rss_after = PeakRssKb();
  std::vector<std::string> frames = scale.Frames();
  scale.Clear();
  // Alternate the two and keep the best of each: a shared 2-core machine is noisy.
  double host_rate = 0, bare_rate = 0;
  for (int round = 0; round < 3; ++round) {
    host_rate = std::max(host_rate, UploadThroughHost(lib, scale, doc, false));
    scale.Clear();
    bare_rate = std::max(bare_rate, ReplayBare(scale, frames));
    scale.Clear();
  }
  double logged_rate = UploadThroughHost(lib, scale, doc, true);

  std::printf("records per upload:                         %d (%zu record bytes)\n", kRecords,
              bytes);
  std::printf("full host path, logging off (best of 3):    %.0f goods/s\n", host_rate);
  std::printf("bare socket replay, same frames (best of 3): %.0f frames/s\n", bare_rate);
  std::printf("ratio host / bare (target >= 0.9):          %.2f\n", host_rate / bare_rate);
  std::printf("read + check + encode CPU (target <= 5 us): %.2f us/record\n", encode_us);
  std::printf(
      "peak RSS growth for the upload:             %ld KiB (whole process %ld KiB; the in-process\n"
      "                                            emulator's copy of every frame included)\n",
      rss_after - rss_before, rss_after);
  std::printf("full host path, log and exchange log on:    %.0f goods/s\n", logged_rate);
  return 0;
}
