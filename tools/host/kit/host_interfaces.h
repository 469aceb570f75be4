#pragma once
// The host's side of the add-in boundary, declared as a host compiled with this compiler
// declares it: plain C++ classes whose virtual tables the component must match.
#include "addin/host_abi.h"

namespace velquora::host {

using addin::TVariant;
using addin::WCHAR_T;

class IMemoryManager {
 public:
  virtual ~IMemoryManager() = default;
  virtual bool AllocMemory(void** memory, unsigned long size) = 0;
  virtual void FreeMemory(void** memory) = 0;
};

class IAddInDefBase {
 public:
  virtual ~IAddInDefBase() = default;
  virtual bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                        long scode) = 0;
  virtual bool Read(WCHAR_T* name, TVariant* value, long* error, WCHAR_T** description) = 0;
  virtual bool Write(WCHAR_T* name, TVariant* value) = 0;
  virtual bool RegisterProfileAs(WCHAR_T* name) = 0;
  virtual bool SetEventBufferDepth(long depth) = 0;
  virtual long GetEventBufferDepth() = 0;
  virtual bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
  virtual void CleanEventBuffer() = 0;
  virtual bool SetStatusLine(WCHAR_T* text) = 0;
  virtual void ResetStatusLine() = 0;
  virtual void* GetInterface(int number) = 0;
};

class IInitDoneBase {
 public:
  virtual ~IInitDoneBase() = default;
  virtual bool Init(void* connection) = 0;
  virtual bool setMemManager(void* memory) = 0;
  virtual long GetInfo() = 0;
  virtual void Done() = 0;
};

class ILanguageExtenderBase {
 public:
  virtual ~ILanguageExtenderBase() = default;
  virtual bool RegisterExtensionAs(WCHAR_T** name) = 0;
  virtual long GetNProps() = 0;
  virtual long FindProp(const WCHAR_T* name) = 0;
  virtual const WCHAR_T* GetPropName(long num, long alias) = 0;
  virtual bool GetPropValue(long num, TVariant* value) = 0;
  virtual bool SetPropValue(long num, TVariant* value) = 0;
  virtual bool IsPropReadable(long num) = 0;
  virtual bool IsPropWritable(long num) = 0;
  virtual long GetNMethods() = 0;
  virtual long FindMethod(const WCHAR_T* name) = 0;
  virtual const WCHAR_T* GetMethodName(long num, long alias) = 0;
  virtual long GetNParams(long num) = 0;
  virtual bool GetParamDefValue(long num, long param, TVariant* value) = 0;
  virtual bool HasRetVal(long num) = 0;
  virtual bool CallAsProc(long num, TVariant* params, long size) = 0;
  virtual bool CallAsFunc(long num, TVariant* ret, TVariant* params, long size) = 0;
};

class LocaleBase {
 public:
  virtual ~LocaleBase() = default;
  virtual void SetLocale(const WCHAR_T* locale) = 0;
};

class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {};

}  // namespace velquora::host
