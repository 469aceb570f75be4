#include "addin/host_objects.h"

namespace velquora::addin {

using Table = EntryTable<>;

void* HostMemory::Alloc(std::size_t size) const {
  if (!object_) return nullptr;
  void* block = nullptr;
  Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, void**, HostULong)>(object_, 0)(
      object_, &block, static_cast<HostULong>(size));
  return block;
}

void HostMemory::Free(void* block) const {
  if (!object_ || !block) return;
  Table::Entry<void(VELQUORA_MEMBER_CALL*)(void*, void**)>(object_, 1)(object_, &block);
}

bool HostConnection::AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                              HostLong scode) const {
  using Fn =
      bool(VELQUORA_MEMBER_CALL*)(void*, unsigned short, const WCHAR_T*, const WCHAR_T*, HostLong);
  return Table::Entry<Fn>(object_, kAddError)(object_, code, source, descr, scode);
}

bool HostConnection::Read(WCHAR_T* name, TVariant* value, HostLong* error,
                          WCHAR_T** description) const {
  using Fn = bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*, TVariant*, HostLong*, WCHAR_T**);
  return Table::Entry<Fn>(object_, kRead)(object_, name, value, error, description);
}

bool HostConnection::Write(WCHAR_T* name, TVariant* value) const {
  return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*, TVariant*)>(object_, kWrite)(
      object_, name, value);
}

bool HostConnection::RegisterProfileAs(WCHAR_T* name) const {
  return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*)>(object_, kRegisterProfileAs)(
      object_, name);
}

bool HostConnection::SetEventBufferDepth(HostLong depth) const {
  return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, HostLong)>(object_, kSetEventBufferDepth)(
      object_, depth);
}

HostLong HostConnection::GetEventBufferDepth() const {
  return Table::Entry<HostLong(VELQUORA_MEMBER_CALL*)(void*)>(object_,
                                                              kGetEventBufferDepth)(object_);
}

bool HostConnection::ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) const {
  using Fn = bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*, WCHAR_T*, WCHAR_T*);
  return Table::Entry<Fn>(object_, kExternalEvent)(object_, source, message, data);
}

void HostConnection::CleanEventBuffer() const {
  Table::Entry<void(VELQUORA_MEMBER_CALL*)(void*)>(object_, kCleanEventBuffer)(object_);
}

bool HostConnection::SetStatusLine(WCHAR_T* text) const {
  return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*)>(object_, kSetStatusLine)(
      object_, text);
}

void HostConnection::ResetStatusLine() const {
  Table::Entry<void(VELQUORA_MEMBER_CALL*)(void*)>(object_, kResetStatusLine)(object_);
}

void* HostConnection::GetInterface(int number) const {
  return Table::Entry<void*(VELQUORA_MEMBER_CALL*)(void*, int)>(object_, kGetInterface)(object_,
                                                                                        number);
}

}  // namespace velquora::addin
