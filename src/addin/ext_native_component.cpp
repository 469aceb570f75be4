#include "addin/ext_native_component.h"

#include "addin/value_conversion.h"
#include "common/error.h"
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
  log::LogWriter::Instance().WriteLog(u"> " + name, u"Params: " + ArgumentListText(args),
                                      log::TLogLevel::llDebug);
}

void TExtNativeComponent::LogMethodResult(const std::u16string& name, const Variant& result,
                                          const VarArrayData& args) {
  if (!Tracing()) return;
  std::u16string text;
  if (result.IsBool())
    text = std::u16string(u"Result=") + (result.bool_value() ? u"True" : u"False");
  text += u"; Params: " + ArgumentListText(args);
  log::LogWriter::Instance().WriteLog(u"< " + name, text, log::TLogLevel::llDebug);
}

bool TExtNativeComponent::CallAsFunc(HostLong num, TVariant* ret, TVariant* params, HostLong size) {
  try {
    Setpt_ValueDirect(kLastErrorNameEn, Variant::String(u""));
  } catch (...) {
  }
  try {
    VarArrayData args = ArgumentsFromHost(params, size);
    LogMethodCall(MethodNameText(static_cast<long>(num), 1), args);
    Variant result;
    if (ret) {
      result = mt_Call(static_cast<long>(num), args);
      VariantToTVariant(MemoryManager(), result, *ret);
    } else {
      mt_Call(static_cast<long>(num), args);
    }
    LogMethodResult(MethodNameText(static_cast<long>(num), 1), result, args);
    ArgumentsToHost(args, params, size);
    return true;
  } catch (...) {
    return FailCallAsFunc(num, CurrentErrorText());
  }
}

}  // namespace velquora::addin
