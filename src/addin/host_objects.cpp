#include "addin/host_objects.h"

#include <type_traits>

namespace velquora::addin {
namespace {

using Table = EntryTable<>;

// Hosts must not let an exception out of their entries; one that does anyway stops here and
// counts as the entry failing, so it never unwinds through the library (where a destructor that
// frees a host block would end the process). The library's own C++ runtime catches it, so the
// host's runtime goes on counting it as uncaught: nothing here can undo that.
template <typename Call, typename Result = std::invoke_result_t<Call>>
Result Guarded(Call call, Result failed) noexcept {
  try {
    return call();
  } catch (...) {
    return failed;
  }
}

template <typename Call>
void Guarded(Call call) noexcept {
  try {
    call();
  } catch (...) {
  }
}

}  // namespace

void* HostMemory::Alloc(std::size_t size) const {
  if (!object_) return nullptr;
  void* block = nullptr;
  try {
    Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, void**, HostULong)>(object_, 0)(
        object_, &block, static_cast<HostULong>(size));
  } catch (...) {
    return nullptr;  // see Guarded
  }
  return block;
}

void HostMemory::Free(void* block) const {
  if (!object_ || !block) return;
  Guarded([&] {
    Table::Entry<void(VELQUORA_MEMBER_CALL*)(void*, void**)>(object_, 1)(object_, &block);
  });
}

bool HostConnection::AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                              HostLong scode) const {
  using Fn =
      bool(VELQUORA_MEMBER_CALL*)(void*, unsigned short, const WCHAR_T*, const WCHAR_T*, HostLong);
  return Guarded(
      [&] { return Table::Entry<Fn>(object_, kAddError)(object_, code, source, descr, scode); },
      false);
}

bool HostConnection::Read(WCHAR_T* name, TVariant* value, HostLong* error,
                          WCHAR_T** description) const {
  using Fn = bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*, TVariant*, HostLong*, WCHAR_T**);
  return Guarded(
      [&] { return Table::Entry<Fn>(object_, kRead)(object_, name, value, error, description); },
      false);
}

bool HostConnection::Write(WCHAR_T* name, TVariant* value) const {
  return Guarded(
      [&] {
        return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*, TVariant*)>(
            object_, kWrite)(object_, name, value);
      },
      false);
}

bool HostConnection::RegisterProfileAs(WCHAR_T* name) const {
  return Guarded(
      [&] {
        return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*)>(
            object_, kRegisterProfileAs)(object_, name);
      },
      false);
}

bool HostConnection::SetEventBufferDepth(HostLong depth) const {
  return Guarded(
      [&] {
        return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, HostLong)>(
            object_, kSetEventBufferDepth)(object_, depth);
      },
      false);
}

HostLong HostConnection::GetEventBufferDepth() const {
  return Guarded(
      [&] {
        return Table::Entry<HostLong(VELQUORA_MEMBER_CALL*)(void*)>(object_,
                                                                    kGetEventBufferDepth)(object_);
      },
      HostLong{0});
}

bool HostConnection::ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) const {
  using Fn = bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*, WCHAR_T*, WCHAR_T*);
  return Guarded(
      [&] { return Table::Entry<Fn>(object_, kExternalEvent)(object_, source, message, data); },
      false);
}

void HostConnection::CleanEventBuffer() const {
  Guarded([&] {
    Table::Entry<void(VELQUORA_MEMBER_CALL*)(void*)>(object_, kCleanEventBuffer)(object_);
  });
}

bool HostConnection::SetStatusLine(WCHAR_T* text) const {
  return Guarded(
      [&] {
        return Table::Entry<bool(VELQUORA_MEMBER_CALL*)(void*, WCHAR_T*)>(object_, kSetStatusLine)(
            object_, text);
      },
      false);
}

void HostConnection::ResetStatusLine() const {
  Guarded([&] {
    Table::Entry<void(VELQUORA_MEMBER_CALL*)(void*)>(object_, kResetStatusLine)(object_);
  });
}

void* HostConnection::GetInterface(int number) const {
  return Guarded(
      [&] {
        return Table::Entry<void*(VELQUORA_MEMBER_CALL*)(void*, int)>(object_, kGetInterface)(
            object_, number);
      },
      static_cast<void*>(nullptr));
}

}  // namespace velquora::addin
