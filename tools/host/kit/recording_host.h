#pragma once
// What a host does around a component and nothing more: a memory manager that records every
// block, and a connection that records every call.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host_interfaces.h"

namespace velquora::host {

class RecordingMemory final : public IMemoryManager {
 public:
  ~RecordingMemory() override;
  bool AllocMemory(void** memory, unsigned long size) override;
  void FreeMemory(void** memory) override;

  std::size_t live_blocks() const;
  std::size_t allocations() const { return allocations_; }
  std::size_t frees() const { return frees_; }
  // Frees of blocks this manager did not hand out (double or foreign frees).
  const std::vector<std::string>& faults() const { return faults_; }
  std::size_t SizeOf(const void* block) const;
  // Sizes of every allocation, in order.
  std::vector<std::size_t> sizes() const;

  // When set, run at the start of every AllocMemory (before anything is allocated or counted)
  // and at the end of every FreeMemory: tests make them throw, as a careless host's might.
  std::function<void()> before_alloc, after_free;
  // When set, every AllocMemory answers false, as a host out of memory does.
  std::atomic<bool> refuse_alloc{false};

 private:
  mutable std::mutex mutex_;
  std::map<const void*, std::size_t> live_;
  std::size_t allocations_ = 0, frees_ = 0;
  std::vector<std::string> faults_;
  std::vector<std::size_t> sizes_;
};

struct ErrorReport {
  unsigned short code;
  std::u16string source, description;
  long scode;
};

class RecordingConnection : public IAddInDefBase {
 public:
  bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                long scode) override;
  bool Read(WCHAR_T*, TVariant*, long*, WCHAR_T**) override;
  bool Write(WCHAR_T*, TVariant*) override;
  bool RegisterProfileAs(WCHAR_T* name) override;
  bool SetEventBufferDepth(long depth) override;
  long GetEventBufferDepth() override;
  bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) override;
  void CleanEventBuffer() override;
  bool SetStatusLine(WCHAR_T* text) override;
  void ResetStatusLine() override;
  void* GetInterface(int number) override;

  // When set, every AddError report and status line is also handed to it (the command-line host
  // prints them).
  std::function<void(const std::string&)> echo;

  std::vector<ErrorReport> errors;
  std::vector<std::string> calls;  // "Name(args)" in call order
  long depth = 0;
};

std::u16string Str(const WCHAR_T* s);

}  // namespace velquora::host
