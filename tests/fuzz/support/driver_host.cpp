#include "driver_host.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "addin/class_registry.h"
#include "addin/component.h"
#include "driver/scale_driver.h"
#include "driver/viewers.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace velquora::fuzz {
namespace {

class NoWindows final : public driver::Viewers {
 public:
  void ShowLog(const std::string&) override {}
  void ShowHelp(const std::u16string&) override {}
};

// The driver's process-wide state, set once as the library's load step sets it: its log, in a
// folder of its own that is emptied now and then (a target may switch logging on).
class DriverProcess {
 public:
  DriverProcess() {
    std::error_code ec;
    folder_ = std::filesystem::temp_directory_path(ec) /
              ("velquora-fuzz-log-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder_, ec);
    log_.SetLogFolder(folder_.string());
    driver::SetViewersForTesting(&windows_);
  }
  ~DriverProcess() {
    driver::SetViewersForTesting(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  log::LogWriter& log() { return log_; }
  void Tick() {
    if (++runs_ % 512 != 0) return;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }

 private:
  std::filesystem::path folder_;
  log::LogWriter log_{platform::RealFileSystem(), platform::SystemClock(),
                      [] { return std::string(); }};
  NoWindows windows_;
  unsigned long runs_ = 0;
};

DriverProcess& Process() {
  static DriverProcess process;
  return process;
}

}  // namespace

DriverHost::DriverHost(std::string answers) : scale_(std::move(answers)) {
  Process().Tick();
  std::unique_ptr<addin::Component> component = std::make_unique<driver::ScaleDriver>(
      Process().log(), std::make_unique<protocol::TcpClient>(scale_));
  object_ = static_cast<host::IComponentBase*>(component->NewObjectHeader());
  component.release();
  object_->Init(static_cast<host::IAddInDefBase*>(&connection_));
  object_->setMemManager(static_cast<host::IMemoryManager*>(&memory_));
}

DriverHost::~DriverHost() {
  void* header = object_;
  addin::DestroyObjectImpl(&header);
  CheckMemory();
  if (memory_.live_blocks() != 0 || scale_.open_sockets() != 0) std::abort();
}

void DriverHost::CheckMemory() const {
  if (!memory_.faults().empty()) std::abort();
}

bool DriverHost::Call(const std::u16string& method, const std::vector<host::Value>& args) {
  long number = object_->FindMethod(method.c_str());
  std::vector<addin::TVariant> records;
  for (const auto& a : args) records.push_back(host::ToRecord(a, memory_));
  addin::TVariant ret;
  std::memset(static_cast<void*>(&ret), 0, sizeof ret);
  bool ok = object_->CallAsFunc(number, &ret, records.empty() ? nullptr : records.data(),
                                static_cast<long>(records.size()));
  bool answered_true = ok && host::FromRecord(ret) == host::Value(true);
  host::ReleaseRecord(ret, memory_);
  for (auto& r : records) host::ReleaseRecord(r, memory_);
  CheckMemory();
  return answered_true;
}

bool DriverHost::Open(const std::u16string& address, std::int32_t port) {
  return Call(u"SetParameter", {std::u16string(u"IPAddress"), address}) &&
         Call(u"SetParameter", {std::u16string(u"IPPort"), port}) &&
         Call(u"Open", {std::u16string()});
}

}  // namespace velquora::fuzz
