#include "hostfw/Exceptions.h"

#include "platform/Posix.h"
#include "platform/StackTrace.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>

Exception::Exception(const QString& Message)
  : FMessage(Message), FWhat(Message.toUtf8())
{
}

const char* Exception::what() const noexcept { return FWhat.constData(); }

QString Exception::ClassName() const { return Exceptions::Demangle(typeid(*this).name()); }

EInOutError::EInOutError(const QString& Message, int ErrorCode)
  : Exception(Message), ErrorCode(ErrorCode)
{
}

EInOutError EInOutError::FromErrno(const QString& Operation, const QString& FileName, int ErrorCode)
{
  return EInOutError(QStringLiteral("I/O error %1: %2 (%3: %4)")
                       .arg(ErrorCode)
                       .arg(QString::fromLocal8Bit(std::strerror(ErrorCode)), Operation, FileName),
                     ErrorCode);
}

EOleError::EOleError(const QString& Message, long ErrorCode)
  : Exception(Message), ErrorCode(ErrorCode)
{
}

EAssertionFailed::EAssertionFailed(const QString& Message, const QString& UnitName, int LineNumber)
  : Exception(QStringLiteral("%1 (%2, line %3)")
                .arg(Message.isEmpty() ? QStringLiteral("Assertion failure") : Message, UnitName)
                .arg(LineNumber))
{
}

EOutOfMemory::EOutOfMemory() : Exception(QStringLiteral("Out of memory")) {}

namespace Exceptions {

QString Demangle(const char* MangledName)
{
  return Posix::Demangled(MangledName).value_or(QString::fromUtf8(MangledName));
}

QString ClassNameOf(const std::exception_ptr& E)
{
  if (!E)
    return {};
  // The type of the thrown object itself, whatever it is: a class derived
  // from std::exception, an int, a pointer. The runtime knows it without
  // throwing the exception again.
  const std::type_info* Type = E.__cxa_exception_type();
  return Type ? Demangle(Type->name()) : QString();
}

QString MessageOf(const std::exception_ptr& E)
{
  if (!E)
    return {};
  // Raised again only to be looked at: no re-raise site for its stack.
  const StackTrace::TInspection Inspection;
  try {
    std::rethrow_exception(E);
  } catch (const Exception& Error) {
    return Error.Message();
  } catch (const std::exception& Error) {
    return QString::fromUtf8(Error.what());
  } catch (...) {
    return {};
  }
}

}  // namespace Exceptions
