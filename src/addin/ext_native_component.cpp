#include "addin/ext_native_component.h"

#include "log/log_writer.h"

namespace velquora::addin {

std::u16string TExtNativeComponent::ArgumentListText(const VarArrayData& args) {
  std::u16string text = u"[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i) text += u"; ";
    text += args[i].ToText();
  }
  return text + u"]";
}

namespace {
// Trace lines are DEBUG records: skip forming them (a goods document can be megabytes) when the
// writer would drop them anyway.
bool Tracing() {
  return log::LogWriter::Instance().LogDetail() >= 3;
}
}  // namespace

void TExtNativeComponent::LogMethodCall(const std::u16string& name, const VarArrayData& args) {
  if (!Tracing()) return;
  log::LogWriter::Instance().Write(u"> " + name, u"Params: " + ArgumentListText(args),
                                   LogLevel::kDebug);
}

void TExtNativeComponent::LogMethodResult(const std::u16string& name, const Variant& result,
                                          const VarArrayData& args) {
  if (!Tracing()) return;
  std::u16string text;
  if (result.IsBool())
    text = std::u16string(u"Result=") + (result.bool_value() ? u"True" : u"False");
  text += u"; Params: " + ArgumentListText(args);
  log::LogWriter::Instance().Write(u"< " + name, text, LogLevel::kDebug);
}

// Both lines carry the method's English name, looked up again for each.
void TExtNativeComponent::TraceCall(HostLong num, const VarArrayData& args) {
  LogMethodCall(MethodNameText(static_cast<long>(num), 1), args);
}

void TExtNativeComponent::TraceResult(HostLong num, const Variant& result,
                                      const VarArrayData& args) {
  LogMethodResult(MethodNameText(static_cast<long>(num), 1), result, args);
}

}  // namespace velquora::addin
