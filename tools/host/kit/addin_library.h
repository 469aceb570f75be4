#pragma once
// Loads an add-in library by path as a host does (never linked), creates components and
// calls them only through their entry tables.
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "recording_host.h"

namespace velquora::host {

// A host value: empty, boolean, 32/64-bit integer, double, text, or byte block (tag 23).
struct Blob {
  std::string bytes;
  bool operator==(const Blob&) const = default;
};
using Value =
    std::variant<std::monostate, bool, std::int32_t, std::int64_t, double, std::u16string, Blob>;

std::string ValueText(const Value& v);  // for messages and printing

class AddinLibrary {
 public:
  // Throws std::runtime_error. `deep_bind`: see LoadLibraryFile.
  explicit AddinLibrary(const std::string& path, bool deep_bind = false);
  ~AddinLibrary();
  AddinLibrary(const AddinLibrary&) = delete;
  AddinLibrary& operator=(const AddinLibrary&) = delete;

  std::u16string ClassNames() const;
  long ClassObject(const std::u16string& name, IComponentBase** object) const;
  long Destroy(IComponentBase** object) const;

 private:
  void* handle_ = nullptr;
  const WCHAR_T* (*get_class_names_)() = nullptr;
  long (*get_class_object_)(const WCHAR_T*, void**) = nullptr;
  long (*destroy_object_)(void**) = nullptr;
};

struct CallResult {
  bool ok = false;
  Value result;
  std::vector<Value> args;  // as the component left them
};

// One component with its own memory manager and connection, handed over like a host does.
class Component {
 public:
  Component(const AddinLibrary& library, const std::u16string& class_name);
  ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  IComponentBase* object() const { return object_; }
  // Hands the object back to the library now (the memory manager and connection stay, so what
  // the object left behind can be checked).
  void Destroy();
  RecordingMemory& memory() { return memory_; }
  RecordingConnection& connection() { return connection_; }

  long FindMethod(const std::u16string& name) const;
  CallResult Call(const std::u16string& method, std::vector<Value> args = {});
  CallResult CallByNumber(long number, std::vector<Value> args);
  bool CallAsProc(const std::u16string& method, std::vector<Value> args = {});
  Value Property(const std::u16string& name);
  std::u16string MethodName(long number, long alias);
  std::u16string PropName(long number, long alias);

  // Releases host strings the component returned (names); checks they were ours.
  void FreeHostString(const WCHAR_T* s);

 private:
  const AddinLibrary& library_;
  RecordingMemory memory_;
  RecordingConnection connection_;
  IComponentBase* object_ = nullptr;
};

TVariant ToRecord(const Value& v, IMemoryManager& memory);
Value FromRecord(const TVariant& r);
void ReleaseRecord(TVariant& r, IMemoryManager& memory);

}  // namespace velquora::host
