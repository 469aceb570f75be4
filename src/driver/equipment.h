#pragma once
// What the drivers of this library share for the host's ten common equipment methods, as free
// helpers that each driver's method table calls: the handler frame and the last result, the
// documents (description, settings page, actions), the settings and the actions.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "addin/property_table.h"
#include "addin/variant.h"
#include "common/error.h"
#include "common/log_sink.h"
#include "driver/driver_info.h"
#include "log/log_writer.h"

namespace velquora::driver {

// Every failure reaches the host with this code.
inline constexpr std::int32_t kFailureCode = 1001;
inline constexpr std::uint16_t kInterfaceRevision = 3002;
inline constexpr char16_t kNotOpenText[] = u"Устройство не включено";
inline constexpr char16_t kHelpCaption[] = u"Справка";

// The last failure: its code and text as GetLastError reports them, and what kind of failure
// it was and where, for reports that say more than the text.
struct LastResult {
  std::int32_t code = 0;
  std::u16string text;
  ErrorKind kind = ErrorKind::kInternal;
  ErrorContext context;
};

// A failure's text as the host reads it: the text, then, for a failure that came from the
// scale, where in parentheses: "(address:port[: reason][; записано N из M])".
std::string TextWithContext(const std::string& text, const ErrorContext& context);

// The handler frame of a method: true when `work` completes; otherwise the failure becomes the
// last result (kFailureCode and its text) and one ERROR record "Exception", and the answer is
// false.
addin::Variant HandlerFrame(LastResult& last, LogSink& log, const std::function<void()>& work);
// GetLastError: the text into the first argument, the code as the result.
addin::Variant LastErrorResult(const LastResult& last, addin::Arguments& args);
// GetInterfaceRevision.
addin::Variant InterfaceRevision();
// Fails (ErrorKind::kNotOpen) with "Устройство не включено" unless the driver is `open`.
void CheckOpen(bool open);

// The driver description: `info`, the library's version and the log's state now (the log
// folder is created when missing).
std::u16string DescriptionXml(const DriverInfo& info, log::LogWriter& log);
// The settings page: the library's "Parameters" item, or one page generated from `settings`.
std::u16string ParametersXml(const addin::PropertyTable& settings);
// The action list: the library's "Actions" item, or empty text.
std::u16string ActionsXml();
// DoAdditionalAction: ViewLog (the log folder in the viewer) or ShowHelp, by name in any letter
// case; any other name fails with "Action not found".
void RunAction(std::u16string_view name, log::LogWriter& log);

// Adds a setting. A setting that has one of the names already is kept; the refusal of the new
// one is one DEBUG record under `caption`.
void AddSetting(addin::PropertyTable& settings, const char16_t* name_ru, const char16_t* name_en,
                addin::Variant initial, LogSink& log, std::u16string_view caption);
// SetParameter(name, value): a setting the driver does not know is added under the one name the
// host gave it.
void SetParameter(addin::PropertyTable& settings, const addin::Arguments& args);
// The value of a setting. For a name no setting has, the failure is recorded and the calling
// work goes on with an empty value.
addin::Variant SettingValue(const addin::PropertyTable& settings, std::u16string_view name,
                            LastResult& last, LogSink& log);

// Argument access that tolerates a host passing fewer arguments than registered.
addin::Variant Arg(const addin::Arguments& args, std::size_t index);
// The argument's text: the string itself when the host passed one (documents can be hundreds
// of megabytes, so no copy), otherwise its text form kept in `scratch`.
const std::u16string& TextArg(const addin::Arguments& args, std::size_t index,
                              std::u16string& scratch);
void SetArg(addin::Arguments& args, std::size_t index, addin::Variant value);

}  // namespace velquora::driver
