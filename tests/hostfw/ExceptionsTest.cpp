#include "hostfw/Exceptions.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace DemoUnit {
struct ECustom : std::logic_error {
  ECustom() : std::logic_error("custom text") {}
};
}  // namespace DemoUnit

TEST(Exceptions, ClassNameIsTheDemangledTypeOfTheThrownValue)
{
  using Exceptions::ClassNameOf;
  EXPECT_EQ(ClassNameOf(std::make_exception_ptr(std::runtime_error("x"))), QStringLiteral("std::runtime_error"));
  EXPECT_EQ(ClassNameOf(std::make_exception_ptr(EInOutError(QStringLiteral("x"), 2))), QStringLiteral("EInOutError"));
  EXPECT_EQ(ClassNameOf(std::make_exception_ptr(DemoUnit::ECustom())), QStringLiteral("DemoUnit::ECustom"));
  EXPECT_EQ(ClassNameOf(std::make_exception_ptr(42)), QStringLiteral("int"));
  EXPECT_EQ(ClassNameOf(std::make_exception_ptr("text")), QStringLiteral("char const*"));
  EXPECT_EQ(ClassNameOf(nullptr), QString());

  // Caught through a base reference, the dynamic type still counts.
  try {
    throw EAssertionFailed(QString(), QStringLiteral("Vesparo"), 12);
  } catch (const Exception& E) {
    EXPECT_EQ(E.ClassName(), QStringLiteral("EAssertionFailed"));
    EXPECT_EQ(Exceptions::ClassNameOf(std::current_exception()), QStringLiteral("EAssertionFailed"));
  }
}

TEST(Exceptions, MessageOfAnyThrownValue)
{
  using Exceptions::MessageOf;
  EXPECT_EQ(MessageOf(std::make_exception_ptr(std::out_of_range("vector::_M_range_check"))),
            QStringLiteral("vector::_M_range_check"));
  // Our own exceptions keep their text as it was, non-Latin letters included.
  EXPECT_EQ(MessageOf(std::make_exception_ptr(Exception(QStringLiteral("Fehler: Größe ж")))),
            QStringLiteral("Fehler: Größe ж"));
  EXPECT_EQ(MessageOf(std::make_exception_ptr(std::runtime_error("caf\xc3\xa9"))), QStringLiteral("café"));
  EXPECT_EQ(MessageOf(std::make_exception_ptr(7)), QString());
  EXPECT_EQ(MessageOf(nullptr), QString());
}

TEST(Exceptions, InOutErrorCarriesTheSystemErrorCode)
{
  const EInOutError E = EInOutError::FromErrno(QStringLiteral("Append"), QStringLiteral("/x/y.Hmld"), ENOENT);
  EXPECT_EQ(E.ErrorCode, ENOENT);
  EXPECT_TRUE(E.Message().contains(QStringLiteral("/x/y.Hmld")));
  EXPECT_TRUE(E.Message().contains(QStringLiteral("Append")));
  EXPECT_TRUE(EAssertionFailed(QString(), QStringLiteral("Vesparo"), 12).Message().startsWith(
    QStringLiteral("Assertion failure")));
}
