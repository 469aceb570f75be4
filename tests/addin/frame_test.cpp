// The component frame as a host sees it: the test add-in library loaded through the host kit.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "addin_library.h"
#include "common/text.h"
#include "object_bridge.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/test_addin_library.h"

namespace velquora::host {
namespace {

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { c_ = std::make_unique<Component>(*lib_, u"TestComponent"); }
  void TearDown() override {
    EXPECT_TRUE(c_->memory().faults().empty()) << c_->memory().faults().front();
    EXPECT_EQ(c_->memory().live_blocks(), 0u) << "host blocks left alive";
  }
  static TVariant Record(std::uint16_t tag) {
    TVariant r;
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    r.vt = tag;
    return r;
  }

  AddinLibrary* lib_ = &test::TestAddin();
  std::unique_ptr<Component> c_;
};

TEST_F(FrameTest, ListsAndCreatesClassesByExactName) {
  EXPECT_EQ(lib_->ClassNames(), u"TestComponent|TestDriver");
  IComponentBase* o = reinterpret_cast<IComponentBase*>(0x1);
  EXPECT_EQ(lib_->ClassObject(u"TESTCOMPONENT", &o), 0);
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(lib_->ClassObject(u"Nothing", &o), 0);
  ASSERT_EQ(lib_->ClassObject(u"TestComponent", &o), 1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(lib_->Destroy(&o), 0);
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(lib_->Destroy(&o), 0);  // a second destroy does nothing
}

TEST_F(FrameTest, EveryInterfaceReachesTheSameComponent) {
  IComponentBase* o = c_->object();
  EXPECT_EQ(o->GetInfo(), 2000);  // first table
  o->SetLocale(u"ru_RU");         // third table
  EXPECT_FALSE(
      c_->Call(u"Fail").ok);  // second table; reports through the connection set via the first
  ASSERT_EQ(c_->connection().errors.size(), 1u);
  // The reserved fourth interface word of the library's own object leads to a table whose entry
  // (after the destructor entries of the host's layout) takes a string and does nothing.
  void* fourth = &static_cast<void**>(LibraryObjectOf(o))[3];
  using Entry = void(VELQUORA_MEMBER_CALL*)(void*, const WCHAR_T*);
  auto entry = reinterpret_cast<Entry>(
      (*static_cast<void***>(fourth))[addin::TargetAbi::kDestructorEntries]);
  entry(fourth, u"ru");
  WCHAR_T* name = nullptr;
  ASSERT_TRUE(o->RegisterExtensionAs(&name));
  EXPECT_EQ(Str(name), u"TestComponent");
  EXPECT_EQ(c_->memory().SizeOf(name), (13u + 1) * 2);
  c_->FreeHostString(name);
}

TEST_F(FrameTest, ComponentsAreIndependent) {
  Component other(*lib_, u"TestComponent");
  EXPECT_FALSE(c_->Call(u"Fail").ok);
  EXPECT_EQ(other.Property(u"LastErrorDescription"), Value(std::u16string()));
  EXPECT_TRUE(other.connection().errors.empty());
}

TEST_F(FrameTest, PropertiesAnswerNeutrallyOutsideTheRegistry) {
  IComponentBase* o = c_->object();
  EXPECT_EQ(o->GetNProps(), 1);
  EXPECT_EQ(c_->PropName(0, 0), u"ОписаниеПоследнейОшибки");
  EXPECT_EQ(c_->PropName(0, 1), u"LastErrorDescription");
  EXPECT_EQ(c_->PropName(0, 2), u"");
  EXPECT_EQ(o->GetPropName(5, 0), nullptr);
  EXPECT_EQ(o->FindProp(u"описаниепоследнейОШИБКИ"), 0);
  EXPECT_FALSE(o->IsPropWritable(0));
  EXPECT_FALSE(o->IsPropWritable(-1));
  EXPECT_TRUE(o->IsPropReadable(0));
  TVariant v = Record(addin::VTYPE_PWSTR);
  EXPECT_FALSE(o->GetPropValue(7, &v));
  TVariant text = ToRecord(std::u16string(u"x"), c_->memory());
  EXPECT_TRUE(o->SetPropValue(0, &text));
  ReleaseRecord(text, c_->memory());
  EXPECT_EQ(c_->Property(u"LastErrorDescription"), Value(std::u16string()));
  TVariant def = Record(addin::VTYPE_I4);
  EXPECT_FALSE(o->GetParamDefValue(0, 0, &def));
  EXPECT_EQ(def.vt, addin::VTYPE_EMPTY);
}

TEST_F(FrameTest, MethodsAreFoundByEitherNameInAnyCase) {
  IComponentBase* o = c_->object();
  EXPECT_EQ(o->FindMethod(u"ReturnTrue"), 0);
  EXPECT_EQ(o->FindMethod(u"RETURNTRUE"), 0);
  EXPECT_EQ(o->FindMethod(u"вернутьИСТИНУ"), 0);
  EXPECT_EQ(o->FindMethod(u"упасть"), 1);
  EXPECT_EQ(o->FindMethod(u"Return"), -1);
  EXPECT_EQ(o->GetNParams(0), 2);
  EXPECT_EQ(o->GetNParams(999), 0);
  EXPECT_EQ(c_->MethodName(1, 0), u"Упасть");
  EXPECT_EQ(c_->MethodName(1, 1), u"Fail");
  EXPECT_EQ(o->GetMethodName(999, 0), nullptr);
  EXPECT_TRUE(o->HasRetVal(999));
  o->Done();
  EXPECT_EQ(o->GetNMethods(), 0);
  EXPECT_EQ(o->FindMethod(u"ReturnTrue"), -1);
  EXPECT_EQ(o->GetNProps(), 1);
}

TEST_F(FrameTest, SuccessfulCallWritesEveryArgumentBack) {
  CallResult r = c_->Call(u"ReturnTrue", {std::int32_t{7}, std::u16string()});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result, Value(true));
  ASSERT_EQ(r.args.size(), 2u);
  EXPECT_EQ(r.args[0], Value(std::int32_t{7}));
  EXPECT_EQ(r.args[1], Value(std::u16string(u"описание")));
  EXPECT_EQ(c_->Call(u"Count").result, Value(std::int32_t{0}));
}

TEST_F(FrameTest, FailedCallsReportAsThePathSays) {
  CallResult r = c_->Call(u"Fail", {std::u16string(u"арг")});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(c_->Property(u"LastErrorDescription"),
            Value(std::u16string(u"Function Fail - Сбой оборудования")));
  ASSERT_EQ(c_->connection().errors.size(), 1u);
  ErrorReport e = c_->connection().errors[0];
  EXPECT_EQ(e.code, 1006);
  EXPECT_EQ(e.source, u"");
  EXPECT_EQ(e.description, u"Сбой оборудования");
  EXPECT_EQ(e.scode, 1000);

  EXPECT_FALSE(c_->CallAsProc(u"Fail"));
  EXPECT_EQ(c_->Property(u"LastErrorDescription"),
            Value(std::u16string(u"Function Fail - Сбой оборудования")));
  ASSERT_EQ(c_->connection().errors.size(), 2u);
  e = c_->connection().errors[1];
  EXPECT_EQ(e.source, u"Упасть");
  EXPECT_EQ(e.scode, 1);

  EXPECT_TRUE(c_->Call(u"ReturnTrue").ok);
  EXPECT_EQ(c_->Property(u"LastErrorDescription"), Value(std::u16string()));

  // An index the registry does not hold, those from 30000 up (the extra-method range) too:
  // false and a report, never an exception in the host.
  for (long index : {999L, 30000L, 30001L}) {
    std::size_t reports = c_->connection().errors.size();
    EXPECT_FALSE(c_->CallByNumber(index, {}).ok) << index;
    std::u16string message =
        u"Индекс за границами массива [" + ToUtf16(std::to_string(index)) + u"]";
    EXPECT_EQ(c_->Property(u"LastErrorDescription"), Value(u"Function  - " + message));
    EXPECT_FALSE(c_->object()->CallAsProc(index, nullptr, 0)) << index;
    ASSERT_EQ(c_->connection().errors.size(), reports + 2) << index;
    EXPECT_EQ(c_->connection().errors[reports].code, 1006);
    EXPECT_EQ(c_->connection().errors[reports].description, message);
  }
}

TEST_F(FrameTest, ValuesCrossTheBoundaryByTheTagRules) {
  struct Case {
    Value in;
    Value out;
  };
  const Case cases[] = {
      {std::int32_t{-5}, std::int32_t{-5}},
      {std::int32_t{2147483646}, std::int32_t{2147483646}},
      {std::int32_t{2147483647}, std::int64_t{2147483647}},
      {std::int32_t{-2147483647}, std::int64_t{-2147483647}},
      {std::int32_t{-2147483647 - 1}, std::int64_t{-2147483647 - 1}},
      {true, true},
      {2.5, 2.5},
      {std::u16string(u"Ёжик"), std::u16string(u"Ёжик")},
      {std::u16string(), std::u16string()},
      {Blob{std::string("\x01\x00\xFF", 3)}, Blob{std::string("\x01\x00\xFF", 3)}},
      {Blob{}, Blob{}},
      {std::monostate{}, std::monostate{}},
  };
  for (const auto& c : cases) {
    CallResult r = c_->Call(u"Echo", {c.in});
    EXPECT_TRUE(r.ok) << ValueText(c.in);
    EXPECT_EQ(r.result, c.out) << ValueText(c.in);
  }
  EXPECT_FALSE(c_->Call(u"Echo", {std::int64_t{5}}).ok);
  EXPECT_EQ(c_->Property(u"LastErrorDescription"),
            Value(std::u16string(u"Function Echo - Неподдерживаемый тип данных")));
  EXPECT_FALSE(c_->Call(u"ReturnArray").ok);
  EXPECT_EQ(c_->connection().errors.back().description, u"Неподдерживаемый тип массива.");
}

TEST_F(FrameTest, RecordsFromTheHostAreReadExactly) {
  IComponentBase* o = c_->object();
  long echo = c_->FindMethod(u"Echo");
  TVariant ret = Record(addin::VTYPE_EMPTY);

  TVariant flag = Record(addin::VTYPE_BOOL);
  std::uint8_t two = 2;
  std::memcpy(&flag, &two, 1);
  ASSERT_TRUE(o->CallAsFunc(echo, &ret, &flag, 1));
  EXPECT_EQ(ret.vt, addin::VTYPE_BOOL);
  EXPECT_EQ(ret.bVal, true);

  // Text is read up to the first zero unit, whatever the stated length.
  TVariant text = ToRecord(std::u16string(u"ab\0cd", 5), c_->memory());
  ASSERT_TRUE(o->CallAsFunc(echo, &ret, &text, 1));
  EXPECT_EQ(FromRecord(ret), Value(std::u16string(u"ab")));
  ReleaseRecord(ret, c_->memory());
  ReleaseRecord(text, c_->memory());

  TVariant when = Record(addin::VTYPE_TM);
  when.tmVal.tm_year = 124;
  when.tmVal.tm_mon = 0;
  when.tmVal.tm_mday = 31;
  when.tmVal.tm_hour = 23;
  when.tmVal.tm_min = 59;
  when.tmVal.tm_sec = 59;
  ASSERT_TRUE(o->CallAsFunc(echo, &ret, &when, 1));
  EXPECT_EQ(ret.vt, addin::VTYPE_DATE);
  EXPECT_NEAR(ret.date, 45322.0 + (86399.0 / 86400.0), 1e-9);  // 31.01.2024 23:59:59

  EXPECT_EQ(when.vt, addin::VTYPE_DATE) << "every argument is written back";
  when.vt = addin::VTYPE_TM;
  when.tmVal.tm_year = 124;
  when.tmVal.tm_mon = 1;
  when.tmVal.tm_mday = 30;
  when.tmVal.tm_hour = 23;
  when.tmVal.tm_min = 59;
  when.tmVal.tm_sec = 59;
  EXPECT_FALSE(o->CallAsFunc(echo, &ret, &when, 1));
  EXPECT_EQ(c_->connection().errors.back().description,
            u"'2024-2-30 23:59:59.0' is not a valid date and time");

  // Fields near the integer limits, or whose value only looks valid in its low 16 bits, are
  // refused with the same message (the value that does not fit is shown as "?").
  struct Far {
    int year, mon, mday;
    const char16_t* shown;
  } far[] = {
      {INT_MAX, 0, 1, u"?-1-1"},      {INT_MAX - 1899, 0, 1, u"?-1-1"},
      {INT_MIN, 0, 1, u"?-1-1"},      {65536 + 124, 0, 31, u"?-1-31"},
      {124, INT_MAX, 1, u"2024-?-1"}, {124, 0, 65536 + 31, u"2024-1-?"},
  };
  for (const Far& f : far) {
    when.vt = addin::VTYPE_TM;
    when.tmVal.tm_year = f.year;
    when.tmVal.tm_mon = f.mon;
    when.tmVal.tm_mday = f.mday;
    EXPECT_FALSE(o->CallAsFunc(echo, &ret, &when, 1)) << f.year;
    EXPECT_EQ(c_->connection().errors.back().description,
              std::u16string(u"'") + f.shown + u" 23:59:59.0' is not a valid date and time");
  }

  TVariant date = Record(addin::VTYPE_DATE);
  EXPECT_FALSE(o->CallAsFunc(echo, &ret, &date, 1));
  EXPECT_EQ(c_->connection().errors.back().description, u"Неподдерживаемый тип данных");

  // A block length is signed at the interface: a negative one is refused, never read as 4 GB.
  char bytes[16] = {};
  TVariant blob = Record(addin::VTYPE_BLOB);
  blob.str.pstrVal = bytes;
  blob.str.strLen = 0xFFFFFFFFu;
  EXPECT_FALSE(o->CallAsFunc(echo, &ret, &blob, 1));
  EXPECT_EQ(c_->connection().errors.back().description, u"Неподдерживаемый тип данных");
}

TEST_F(FrameTest, AFunctionThatFailsLeavesNoResultBehind) {
  // The result is written before the arguments go back; when the host's memory then runs out
  // for an argument, the call fails and the result record must not still read as an answer.
  IComponentBase* o = c_->object();
  TVariant ret = Record(addin::VTYPE_EMPTY);
  TVariant args[2] = {ToRecord(std::int32_t{7}, c_->memory()),
                      ToRecord(std::u16string(u"x"), c_->memory())};
  c_->memory().refuse_alloc = true;
  EXPECT_FALSE(o->CallAsFunc(c_->FindMethod(u"ReturnTrue"), &ret, args, 2));
  c_->memory().refuse_alloc = false;
  EXPECT_EQ(ret.vt, addin::VTYPE_EMPTY);
  for (TVariant& arg : args) ReleaseRecord(arg, c_->memory());
}

TEST_F(FrameTest, ReplacedArgumentsAreFreedOnce) {
  std::size_t before = c_->memory().frees();
  CallResult r = c_->Call(u"ReturnTrue", {std::u16string(u"a"), std::u16string(u"b")});
  ASSERT_TRUE(r.ok);
  // Both incoming strings were replaced by new blocks (freed by the component), and the kit
  // freed the two it got back: four frees, no faults (checked in TearDown).
  EXPECT_EQ(c_->memory().frees() - before, 4u);
}

TEST_F(FrameTest, HostServicesCallTheConnectionInOrder) {
  ASSERT_TRUE(c_->Call(u"Event").ok);
  const auto& calls = c_->connection().calls;
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "SetEventBufferDepth(100)");
  EXPECT_EQ(calls.back(), "ExternalEvent(src,msg,data)");
  EXPECT_EQ(c_->Call(u"Depth").result, Value(std::int32_t{100}));
  ASSERT_TRUE(c_->Call(u"Status", {std::u16string(u"Загрузка")}).ok);
  EXPECT_EQ(calls[calls.size() - 2], "SetStatusLine(Загрузка)");
  EXPECT_EQ(calls.back(), "ResetStatusLine");

  std::size_t n = c_->memory().sizes().size();
  ASSERT_TRUE(c_->Call(u"HostStrings").ok);
  auto sizes = c_->memory().sizes();
  ASSERT_GE(sizes.size(), n + 2);
  EXPECT_EQ(sizes[n], 4u);
  EXPECT_EQ(sizes[n + 1], 2u);
}

TEST_F(FrameTest, ServicesWithoutAConnectionDoNothing) {
  IComponentBase* o = nullptr;
  ASSERT_EQ(lib_->ClassObject(u"TestComponent", &o), 1);
  RecordingMemory memory;
  o->setMemManager(static_cast<IMemoryManager*>(&memory));
  TVariant ret = Record(addin::VTYPE_EMPTY);
  ASSERT_TRUE(o->CallAsFunc(o->FindMethod(u"Event"), &ret, nullptr, 0));
  EXPECT_EQ(ret.bVal, true);
  ASSERT_TRUE(o->CallAsFunc(o->FindMethod(u"Depth"), &ret, nullptr, 0));
  EXPECT_EQ(ret.lVal, 0);
  lib_->Destroy(&o);
  EXPECT_EQ(memory.live_blocks(), 0u);
}

TEST_F(FrameTest, CallsAsFunctionsAreTraced) {
  ASSERT_TRUE(c_->Call(u"Log", {true}).ok);  // its own exit line opens the file
  std::string file = "";
  for (const auto& entry : std::filesystem::directory_iterator(test::TestAddinLogFolder()))
    file = entry.path().string();
  ASSERT_FALSE(file.empty());
  test::LogTail tail(file);
  ASSERT_TRUE(c_->Call(u"ReturnTrue", {std::u16string(), std::u16string()}).ok);
  EXPECT_FALSE(c_->Call(u"Fail", {std::int32_t{3}}).ok);
  ASSERT_TRUE(c_->Call(u"ReturnInt").ok);
  EXPECT_FALSE(c_->CallAsProc(u"Fail"));
  ASSERT_TRUE(c_->Call(u"Log", {false}).ok);

  std::vector<std::string> lines = tail.Lines();
  ASSERT_EQ(lines.size(), 8u);
  auto after_stamp = [](const std::string& line) { return line.substr(24); };
  EXPECT_EQ(after_stamp(lines[0]), "DEBUG\t> ReturnTrue: \tParams: [; ]");
  EXPECT_EQ(after_stamp(lines[1]), "DEBUG\t< ReturnTrue: \tResult=True; Params: [; описание]");
  EXPECT_EQ(after_stamp(lines[2]), "DEBUG\t> Fail: \tParams: [3]");
  EXPECT_EQ(after_stamp(lines[3]), "DEBUG\t> ReturnInt: \tParams: []");
  EXPECT_EQ(after_stamp(lines[4]), "DEBUG\t< ReturnInt: \t; Params: []");
  EXPECT_EQ(after_stamp(lines[5]), "DEBUG\t> Log: \tParams: [False]");
  EXPECT_EQ(lines[6], "============Stop log===============");
  EXPECT_EQ(lines[7], "");
}

}  // namespace
}  // namespace velquora::host
