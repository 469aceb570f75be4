#pragma once
// The common equipment-interface methods every driver of the framework offers the host.
#include "driver/custom_driver.h"
#include "driver/driver_info.h"

namespace velquora::driver {

inline constexpr char16_t kNotOpenText[] = u"Устройство не включено";
inline constexpr char16_t kHelpCaption[] = u"Справка";

// The Russian and English names of the common methods, in registration order.
struct MethodName {
  const char16_t* ru;
  const char16_t* en;
  int params;
};
extern const MethodName kCommonMethods[10];

class TCommonDriver : public TCustomDriver {
 public:
  void AfterConstruction() override;
  void BeforeDestruction() noexcept override;
  void pt_Add(const std::u16string& name1, const std::u16string& name2, bool readonly,
              const addin::Variant& value) override;

  static void FillDriverInfo(TDriverInfo& info);
  virtual void UpdateDriverInfo(TDriverInfo& info) { FillDriverInfo(info); }
  virtual void RegisterMethods();
  virtual void RegisterSettings();
  virtual void Open();
  virtual void Close();
  virtual void DeviceTest(std::u16string& description, std::u16string& extra);
  virtual std::u16string BuildParametersXml();
  virtual std::u16string BuildDescriptionXml();
  virtual std::u16string BuildActionsXml();
  virtual void RunAction(const std::u16string& name);
  virtual addin::Variant GetInterfaceRevision();

  // The class name the log shows for registration records.
  virtual std::u16string TypeName() const { return u"TCommonDriver"; }

  bool Enabled() const { return FEnabled; }
  static bool LogEnabled();
  static void SetLogEnabled(bool on);
  // Fails with "Устройство не включено" while the driver is not open.
  void CheckEnabled() const;

  // Published actions.
  void ViewLog();
  void ShowHelp();

 protected:
  // Registers a host method whose handler runs inside the handler frame.
  void AddFramedMethod(const MethodName& name, std::function<void(addin::VarArrayData&)> work);

  bool FEnabled = false;
};

// Records the driver's name and description at library load (class-level, for class T).
template <typename T>
void GetDriverInfo(const std::u16string& name, const std::u16string& description);
void RecordComponentName(const std::u16string& name);

template <typename T>
void GetDriverInfo(const std::u16string& name, const std::u16string& description) {
  RecordComponentName(name);
  std::lock_guard lock(DriverInfoMutex());
  DriverInfo().Name = name;
  DriverInfo().Description = description;
  T::FillDriverInfo(DriverInfo());
}

// Parameter access that tolerates a host passing fewer arguments than registered.
addin::Variant Param(const addin::VarArrayData& params, std::size_t index);
// The argument's text: the string itself when the host passed one (documents can be hundreds
// of megabytes, so no copy), otherwise its text form kept in `scratch`.
const std::u16string& TextParam(const addin::VarArrayData& params, std::size_t index,
                                std::u16string& scratch);
void SetParam(addin::VarArrayData& params, std::size_t index, addin::Variant value);

}  // namespace velquora::driver
