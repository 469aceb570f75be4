// scale-emulator: a label-printing scale on a TCP port, for testing without a real scale.
#include <sys/stat.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "control_server.h"
#include "scale_emulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_dump = 0;

void OnStop(int) {
  g_stop = 1;
}
void OnDump(int) {
  g_dump = 1;
}

// A whole decimal number in [min, max]; anything else ends the program with a usage error.
long Number(const std::string& option, const std::string& text, long min, long max) {
  long value = 0;
  bool ok = !text.empty() && text.size() <= 10;
  for (char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (ok) value = value * 10 + (c - '0');
  }
  if (!ok || value < min || value > max) {
    std::fprintf(stderr, "scale-emulator: %s takes a number %ld..%ld, not \"%s\"\n", option.c_str(),
                 min, max, text.c_str());
    std::exit(2);
  }
  return value;
}

void Usage(std::FILE* to) {
  std::fputs(
      "Usage: scale-emulator [--host ADDR] [--port N] [--dump FILE] [--drop N] [--answer "
      "CMD:TABLE:BYTE]\n"
      "                     [--delay MS] [--refuse-plu N] [--double-answers] [--noise HEX]\n"
      "                     [--close-after N] [--mute-after N] [--verbose]\n"
      "       scale-emulator --show FILE\n"
      "       scale-emulator --control [--port N]\n\n"
      "Listens like a networked label-printing scale and keeps what it is sent in memory.\n"
      "  --host ADDR   address to listen on (default 127.0.0.1)\n"
      "  --port N      TCP port (default 0: a free port); the port is printed on start\n"
      "  --dump FILE   write all tables as JSON on exit (SIGINT/SIGTERM) and on SIGUSR1\n"
      "  --drop N      reset the first N connections\n"
      "  --answer C:T:B  answer byte B (hex) to command C and table T (hex) instead of storing\n"
      "  --delay MS    wait MS milliseconds before every answer, as a scale storing records does\n"
      "  --refuse-plu N  answer 15 to the write of PLU record N instead of storing it\n"
      "  --double-answers  send every answer byte twice (a scale out of step)\n"
      "  --noise HEX   send these bytes right after every answer\n"
      "  --close-after N  store N records (of any table), then close the connection at the\n"
      "                next record written\n"
      "  --mute-after N   store N records, then read on but never answer (the connection stays\n"
      "                open: the driver waits for its answer time-out)\n"
      "  --verbose     a line on stderr every 5 s while records arrive\n"
      "On exit the count of records received goes to stderr. Exit codes: 0 ok, 1 cannot listen,\n"
      "read or write a file, 2 bad usage.\n"
      "  --show FILE   print a JSON dump as a readable table and exit\n"
      "  --control     start and inspect scales over a line protocol on 127.0.0.1 (for\n"
      "                tests that run where the emulator cannot, such as Windows programs)\n",
      to);
}

bool WriteDump(const velquora::emulator::ScaleEmulator& scale, const std::string& path) {
  std::ofstream out(path);
  out << scale.Dump().dump(2) << "\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1", dump_path;
  int port = 0;
  bool control = false;
  velquora::emulator::Faults faults;
  int delay_ms = 0;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "scale-emulator: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--host") {
      host = next();
    } else if (arg == "--port") {
      port = static_cast<int>(Number(arg, next(), 0, 65535));
    } else if (arg == "--dump") {
      dump_path = next();
    } else if (arg == "--drop") {
      faults.drop_connections = static_cast<int>(Number(arg, next(), 0, 1000000));
    } else if (arg == "--answer") {
      unsigned c, t, b;
      const std::string rule = next();
      char end = 0;
      if (std::sscanf(rule.c_str(), "%x:%x:%x%c", &c, &t, &b, &end) != 3 || c > 255 || t > 255 ||
          b > 255) {
        std::fprintf(stderr, "scale-emulator: --answer takes CMD:TABLE:BYTE in hex, not \"%s\"\n",
                     rule.c_str());
        return 2;
      }
      faults.rules.push_back({static_cast<int>(c), static_cast<int>(t), -1, static_cast<int>(b)});
    } else if (arg == "--control") {
      control = true;
    } else if (arg == "--delay") {
      delay_ms = static_cast<int>(Number(arg, next(), 0, 10000));
    } else if (arg == "--refuse-plu") {
      faults.rules.push_back({0xF1, 0x25, Number(arg, next(), 0, 99999999), 0x15});
    } else if (arg == "--close-after") {
      faults.close_after = Number(arg, next(), 0, 99999999);
    } else if (arg == "--mute-after") {
      faults.mute_after = Number(arg, next(), 0, 99999999);
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--double-answers") {
      faults.answer_copies = 2;
    } else if (arg == "--noise") {
      std::string hex = next();
      faults.noise.clear();
      for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
        unsigned b = 0;
        if (!std::isxdigit(static_cast<unsigned char>(hex[k])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[k + 1])) ||
            std::sscanf(hex.substr(k, 2).c_str(), "%2x", &b) != 1) {
          std::fprintf(stderr, "scale-emulator: --noise takes hex bytes, not \"%s\"\n",
                       hex.c_str());
          return 2;
        }
        faults.noise += static_cast<char>(b);
      }
      if (faults.noise.empty() || hex.size() % 2) {
        std::fprintf(stderr, "scale-emulator: --noise takes hex bytes, not \"%s\"\n", hex.c_str());
        return 2;
      }
    } else if (arg == "--show") {
      const std::string path = next();
      struct stat st {};
      if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "scale-emulator: %s is a directory, not a dump\n", path.c_str());
        return 1;
      }
      std::ifstream in(path);
      if (!in) {
        std::fprintf(stderr, "scale-emulator: cannot read the dump %s\n", path.c_str());
        return 1;
      }
      // An empty or half-written file (the emulator writes its dump when it stops) is no dump.
      try {
        std::cout << velquora::emulator::FormatDump(nlohmann::json::parse(in));
      } catch (const std::exception& e) {  // json's own, or the stream's (a directory)
        std::fprintf(stderr, "scale-emulator: %s is not a dump (%s)\n", path.c_str(), e.what());
        return 1;
      }
      return 0;
    } else {
      std::fprintf(stderr, "scale-emulator: unknown argument %s (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (control) {
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);
    return velquora::emulator::RunControlServer(static_cast<std::uint16_t>(port), g_stop);
  }
  if (delay_ms > 0) {
    velquora::emulator::AnswerRule slow;  // last, so the --answer rules still decide the byte
    slow.delay_ms = delay_ms;
    faults.rules.push_back(slow);
  }
  velquora::emulator::ScaleEmulator scale(host, static_cast<std::uint16_t>(port));
  scale.SetFaults(faults);
  try {
    scale.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scale-emulator: %s\n", e.what());
    return 1;
  }
  std::signal(SIGINT, OnStop);
  std::signal(SIGTERM, OnStop);
  std::signal(SIGUSR1, OnDump);
  std::printf("listening on %s:%u\n", host.c_str(), scale.port());
  std::fflush(stdout);
  auto next_report = std::chrono::steady_clock::now();
  std::size_t reported = 0;
  while (!g_stop) {
    if (g_dump && !dump_path.empty()) {
      g_dump = 0;
      if (!WriteDump(scale, dump_path))
        std::fprintf(stderr, "scale-emulator: cannot write %s\n", dump_path.c_str());
    }
    if (verbose && std::chrono::steady_clock::now() >= next_report &&
        scale.records_received() != reported) {
      reported = scale.records_received();
      std::fprintf(stderr, "scale-emulator: %zu records received\n", reported);
      next_report = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  scale.Stop();
  std::fprintf(stderr, "scale-emulator: %zu records received on %zu connections\n",
               scale.records_received(), scale.connections());
  if (!dump_path.empty() && !WriteDump(scale, dump_path)) {
    std::fprintf(stderr, "scale-emulator: cannot write %s\n", dump_path.c_str());
    return 1;
  }
  return 0;
}
