// The method and property registries on their own: look-ups by either name in any letter case,
// the refusal of names already taken, and look-ups among thousands of entries.
#include <gtest/gtest.h>

#include "addin/component.h"
#include "common/error.h"
#include "common/text.h"

namespace velquora::addin {
namespace {

Variant Nothing(VarArrayData&) {
  return Variant::Bool(true);
}

TEST(RegistryTest, NamesAreFoundInAnyLetterCaseLatinAndCyrillic) {
  TCustomNativeComponent c;
  c.mt_Add(u"ВыгрузитьТовары", u"UploadGoods", 3, Nothing);
  c.mt_Add(u"ЁлкаЙод", u"Tree", 0, Nothing);
  const std::pair<const char16_t*, long> cases[] = {
      {u"выгрузитьтовары", 0}, {u"ВЫГРУЗИТЬТОВАРЫ", 0}, {u"uploadGOODS", 0},
      {u"ёлкайод", 1},         {u"ЁЛКАЙОД", 1},         {u"TREE", 1},
      {u"UploadGood", -1},     {u"Елкайод", -1},        {u"", -1}};
  for (const auto& [name, index] : cases) EXPECT_EQ(c.mt_Find(name), index) << ToUtf8(name);
  EXPECT_EQ(c.pt_Find(u"lastERRORdescription"), 0);
  EXPECT_EQ(c.pt_Find(u"описаниепоследнейошибки"), 0);
  EXPECT_EQ(c.pt_Find(u""), -1);
}

TEST(RegistryTest, ATakenNameIsRefusedAndLeavesBothRegistriesAsTheyWere) {
  TCustomNativeComponent c;
  c.mt_Add(u"Первый", u"First", 0, Nothing);
  try {
    c.mt_Add(u"Новый", u"ПЕРВЫЙ", 0, Nothing);
    ADD_FAILURE() << "a taken name was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(ToUtf8(e.Text()), "Метод с указанным именем уже зарегистрирован. [Новый,ПЕРВЫЙ]");
  }
  EXPECT_EQ(c.mt_Count(), 1);
  EXPECT_EQ(c.mt_Find(u"Новый"), -1);

  c.pt_Add(u"Скорость", u"", false, Variant::Int(1));
  c.pt_Add(u"Вес", u"", false, Variant::Int(2));  // an empty second name is never taken
  EXPECT_THROW(c.pt_Add(u"Другое", u"СКОРОСТЬ", false, Variant::Int(3)), Error);
  EXPECT_EQ(c.pt_Count(), 3);
  EXPECT_EQ(c.pt_Find(u"Другое"), -1);
  EXPECT_EQ(c.Getpt_Value(u"вес").int_value(), 2);

  c.mt_Clear();
  EXPECT_EQ(c.mt_Find(u"first"), -1);
  c.mt_Add(u"Второй", u"First", 0, Nothing);  // free again after the registry was emptied
  EXPECT_EQ(c.mt_Find(u"FIRST"), 0);
}

TEST(RegistryTest, ThousandsOfSettingsKeepTheirOrderAndAreEachFound) {
  TCustomNativeComponent c;
  constexpr int kNames = 20000;
  for (int i = 0; i < kNames; ++i) {
    c.pt_Add(u"Настройка" + IntToText16(i), u"", false, Variant::Int(i));
  }
  ASSERT_EQ(c.pt_Count(), kNames + 1);
  for (int i = 0; i < kNames; i += 997) {
    EXPECT_EQ(c.pt_Find(u"НАСТРОЙКА" + IntToText16(i)), i + 1);
    EXPECT_EQ(c.Getpt_Value(u"настройка" + IntToText16(i)).int_value(), i);
  }
  EXPECT_EQ(c.pt_Find(u"Настройка" + IntToText16(kNames)), -1);
}

}  // namespace
}  // namespace velquora::addin
