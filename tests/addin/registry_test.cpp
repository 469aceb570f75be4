// The method and property registries on their own: look-ups by either name in any letter case,
// the refusal of names already taken, and look-ups among thousands of entries.
#include <gtest/gtest.h>

#include "addin/method_table.h"
#include "addin/property_table.h"
#include "common/error.h"
#include "common/text.h"

namespace velquora::addin {
namespace {

Variant Nothing(Arguments&) {
  return Variant::Bool(true);
}

TEST(RegistryTest, NamesAreFoundInAnyLetterCaseLatinAndCyrillic) {
  MethodTable methods;
  methods.Add(u"ВыгрузитьТовары", u"UploadGoods", 3, Nothing);
  methods.Add(u"ЁлкаЙод", u"Tree", 0, Nothing);
  PropertyTable properties;
  properties.Add(u"ОписаниеПоследнейОшибки", u"LastErrorDescription", true, Variant::String(u""));
  const std::pair<const char16_t*, long> cases[] = {
      {u"выгрузитьтовары", 0}, {u"ВЫГРУЗИТЬТОВАРЫ", 0}, {u"uploadGOODS", 0},
      {u"ёлкайод", 1},         {u"ЁЛКАЙОД", 1},         {u"TREE", 1},
      {u"UploadGood", -1},     {u"Елкайод", -1},        {u"", -1}};
  for (const auto& [name, index] : cases) EXPECT_EQ(methods.Find(name), index) << ToUtf8(name);
  EXPECT_EQ(properties.Find(u"lastERRORdescription"), 0);
  EXPECT_EQ(properties.Find(u"описаниепоследнейошибки"), 0);
  EXPECT_EQ(properties.Find(u""), -1);
}

TEST(RegistryTest, ATakenNameIsRefusedAndLeavesBothRegistriesAsTheyWere) {
  MethodTable methods;
  methods.Add(u"Первый", u"First", 0, Nothing);
  try {
    methods.Add(u"Новый", u"ПЕРВЫЙ", 0, Nothing);
    ADD_FAILURE() << "a taken name was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(ToUtf8(e.Text()), "Метод с указанным именем уже зарегистрирован. [Новый,ПЕРВЫЙ]");
  }
  EXPECT_EQ(methods.Count(), 1);
  EXPECT_EQ(methods.Find(u"Новый"), -1);

  PropertyTable properties;
  properties.Add(u"ОписаниеПоследнейОшибки", u"LastErrorDescription", true, Variant::String(u""));
  properties.Add(u"Скорость", u"", false, Variant::Int(1));
  properties.Add(u"Вес", u"", false, Variant::Int(2));  // an empty second name is never taken
  EXPECT_THROW(properties.Add(u"Другое", u"СКОРОСТЬ", false, Variant::Int(3)), Error);
  EXPECT_EQ(properties.Count(), 3);
  EXPECT_EQ(properties.Find(u"Другое"), -1);
  EXPECT_EQ(properties.Value(u"вес").int_value(), 2);

  methods.Clear();
  EXPECT_EQ(methods.Find(u"first"), -1);
  methods.Add(u"Второй", u"First", 0, Nothing);  // free again after the table was emptied
  EXPECT_EQ(methods.Find(u"FIRST"), 0);
}

TEST(RegistryTest, ThousandsOfSettingsKeepTheirOrderAndAreEachFound) {
  PropertyTable properties;
  properties.Add(u"ОписаниеПоследнейОшибки", u"LastErrorDescription", true, Variant::String(u""));
  constexpr int kNames = 20000;
  for (int i = 0; i < kNames; ++i) {
    properties.Add(u"Настройка" + IntToText16(i), u"", false, Variant::Int(i));
  }
  ASSERT_EQ(properties.Count(), kNames + 1);
  for (int i = 0; i < kNames; i += 997) {
    EXPECT_EQ(properties.Find(u"НАСТРОЙКА" + IntToText16(i)), i + 1);
    EXPECT_EQ(properties.Value(u"настройка" + IntToText16(i)).int_value(), i);
  }
  EXPECT_EQ(properties.Find(u"Настройка" + IntToText16(kNames)), -1);
}

}  // namespace
}  // namespace velquora::addin
