#pragma once
// The driver component as a host holds it, for fuzz targets: made through the class factory
// path, given the host kit's memory manager and connection, and reached only through its entry
// tables. Its device talks to a ScriptedScale, so no call ever opens a real connection, and its
// windows are replaced by ones that show nothing.
#include <string>
#include <vector>

#include "addin_library.h"
#include "host_interfaces.h"
#include "recording_host.h"
#include "scripted_scale.h"

namespace velquora::fuzz {

class DriverHost {
 public:
  explicit DriverHost(std::string answers = {});
  // Destroys the component; aborts when it left host blocks alive, freed blocks it did not own,
  // or kept a connection open.
  ~DriverHost();
  DriverHost(const DriverHost&) = delete;
  DriverHost& operator=(const DriverHost&) = delete;

  host::IComponentBase& object() { return *object_; }
  host::RecordingMemory& memory() { return memory_; }
  host::RecordingConnection& connection() { return connection_; }
  ScriptedScale& scale() { return scale_; }

  // CallAsFunc by method name; true when the call succeeded and answered true.
  bool Call(const std::u16string& method, const std::vector<host::Value>& args = {});
  // SetParameter(name, value) and Open() with the given address settings.
  bool Open(const std::u16string& address = u"127.0.0.1", std::int32_t port = 4001);

  // Aborts when the host's memory manager saw a free of a block it never handed out.
  void CheckMemory() const;

 private:
  ScriptedScale scale_;
  host::RecordingMemory memory_;
  host::RecordingConnection connection_;
  host::IComponentBase* object_ = nullptr;
};

}  // namespace velquora::fuzz
