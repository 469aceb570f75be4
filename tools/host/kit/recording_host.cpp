#include "recording_host.h"

#include <cstdlib>

#include "common/text.h"

namespace velquora::host {

std::u16string Str(const WCHAR_T* s) {
  return s ? std::u16string(s) : std::u16string();
}

RecordingMemory::~RecordingMemory() {
  for (auto& [block, size] : live_) std::free(const_cast<void*>(block));
}

bool RecordingMemory::AllocMemory(void** memory, unsigned long size) {
  if (before_alloc) before_alloc();
  if (refuse_alloc) {
    *memory = nullptr;
    return false;
  }
  void* block = std::malloc(size ? size : 1);
  std::lock_guard lock(mutex_);
  live_[block] = size;
  sizes_.push_back(size);
  ++allocations_;
  *memory = block;
  return block != nullptr;
}

void RecordingMemory::FreeMemory(void** memory) {
  if (!memory || !*memory) return;
  std::lock_guard lock(mutex_);
  auto it = live_.find(*memory);
  if (it == live_.end()) {
    faults_.push_back("free of a block this manager does not own");
    return;
  }
  live_.erase(it);
  ++frees_;
  std::free(*memory);
  *memory = nullptr;
  if (after_free) after_free();
}

std::size_t RecordingMemory::live_blocks() const {
  std::lock_guard lock(mutex_);
  return live_.size();
}

std::vector<std::size_t> RecordingMemory::sizes() const {
  std::lock_guard lock(mutex_);
  return sizes_;
}

std::size_t RecordingMemory::SizeOf(const void* block) const {
  std::lock_guard lock(mutex_);
  auto it = live_.find(block);
  return it == live_.end() ? 0 : it->second;
}

bool RecordingConnection::AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                                   long scode) {
  errors.push_back({code, Str(source), Str(descr), scode});
  if (echo) echo("AddError(" + std::to_string(code) + "): " + ToUtf8(Str(descr)));
  calls.push_back("AddError");
  return true;
}
bool RecordingConnection::Read(WCHAR_T*, TVariant*, long*, WCHAR_T**) {
  calls.push_back("Read");
  return true;
}
bool RecordingConnection::Write(WCHAR_T*, TVariant*) {
  calls.push_back("Write");
  return true;
}
bool RecordingConnection::RegisterProfileAs(WCHAR_T* name) {
  calls.push_back("RegisterProfileAs(" + ToUtf8(Str(name)) + ")");
  return true;
}
bool RecordingConnection::SetEventBufferDepth(long d) {
  depth = d;
  calls.push_back("SetEventBufferDepth(" + std::to_string(d) + ")");
  return true;
}
long RecordingConnection::GetEventBufferDepth() {
  calls.push_back("GetEventBufferDepth");
  return depth;
}
bool RecordingConnection::ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) {
  calls.push_back("ExternalEvent(" + ToUtf8(Str(source)) + "," + ToUtf8(Str(message)) + "," +
                  ToUtf8(Str(data)) + ")");
  return true;
}
void RecordingConnection::CleanEventBuffer() {
  calls.push_back("CleanEventBuffer");
}
bool RecordingConnection::SetStatusLine(WCHAR_T* text) {
  calls.push_back("SetStatusLine(" + ToUtf8(Str(text)) + ")");
  if (echo) echo("status: " + ToUtf8(Str(text)));
  return true;
}
void RecordingConnection::ResetStatusLine() {
  calls.push_back("ResetStatusLine");
}
void* RecordingConnection::GetInterface(int number) {
  calls.push_back("GetInterface(" + std::to_string(number) + ")");
  return nullptr;
}

}  // namespace velquora::host
