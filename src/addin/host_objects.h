#pragma once
// Calls into the host's own objects (memory manager, connection) through their entry tables.
// Entry numbers count after the destructor entries of the host's ABI. None of these throws: a
// host entry that throws counts as one that failed (no block, false, 0, nullptr).
#include <string>
#include <string_view>
#include <type_traits>

#include "addin/host_abi.h"

namespace velquora::addin {

template <typename Abi = TargetAbi>
struct EntryTable {
  template <typename Fn>
  static Fn Entry(void* object, int index) {
    static_assert(IsMemberCall<std::remove_pointer_t<Fn>>::value,
                  "the host's entries are called with its member calling convention");
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Fn>(table[Abi::kDestructorEntries + index]);
  }
};

// IMemoryManager: 0 AllocMemory, 1 FreeMemory.
class HostMemory {
 public:
  explicit HostMemory(void* object = nullptr) : object_(object) {}
  bool present() const { return object_ != nullptr; }
  void* object() const { return object_; }
  // A block of `size` bytes owned by the host, or nullptr.
  void* Alloc(std::size_t size) const;
  void Free(void* block) const;

 private:
  void* object_;
};

// IAddInDefBase, the host's connection.
class HostConnection {
 public:
  enum Entry {
    kAddError = 0,
    kRead,
    kWrite,
    kRegisterProfileAs,
    kSetEventBufferDepth,
    kGetEventBufferDepth,
    kExternalEvent,
    kCleanEventBuffer,
    kSetStatusLine,
    kResetStatusLine,
    kGetInterface,
  };
  explicit HostConnection(void* object = nullptr) : object_(object) {}
  bool present() const { return object_ != nullptr; }
  void* object() const { return object_; }

  bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                HostLong scode) const;
  bool Read(WCHAR_T* name, TVariant* value, HostLong* error, WCHAR_T** description) const;
  bool Write(WCHAR_T* name, TVariant* value) const;
  bool RegisterProfileAs(WCHAR_T* name) const;
  bool SetEventBufferDepth(HostLong depth) const;
  HostLong GetEventBufferDepth() const;
  bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) const;
  void CleanEventBuffer() const;
  bool SetStatusLine(WCHAR_T* text) const;
  void ResetStatusLine() const;
  void* GetInterface(int number) const;

 private:
  void* object_;
};

}  // namespace velquora::addin
