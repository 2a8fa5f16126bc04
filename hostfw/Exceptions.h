#pragma once
// The exception classes of the runtime and what the framework knows about any
// thrown value: its class name and its message.
//
// The classes live in the global namespace because their names are what
// reports show: the class name of a caught exception is the demangled name of
// its dynamic type, "EInOutError" or "std::runtime_error".

#include <QString>

#include <exception>
#include <stdexcept>

class Exception : public std::exception {
public:
  explicit Exception(const QString& Message);
  const char* what() const noexcept override;
  const QString& Message() const { return FMessage; }
  // Demangled name of the dynamic type.
  QString ClassName() const;

private:
  QString FMessage;
  QByteArray FWhat;
};

// A failed file operation, with the operating system's error code (errno).
class EInOutError : public Exception {
public:
  EInOutError(const QString& Message, int ErrorCode);
  // "<what> : <system text> (<code>)" for a failed operation on a file.
  static EInOutError FromErrno(const QString& Operation, const QString& FileName, int ErrorCode);
  int ErrorCode;
};

// A failed automation call, with its status code.
class EOleError : public Exception {
public:
  EOleError(const QString& Message, long ErrorCode);
  long ErrorCode;
};

// "Assertion failure" raised by Assert, naming the unit and line.
class EAssertionFailed : public Exception {
public:
  EAssertionFailed(const QString& Message, const QString& UnitName, int LineNumber);
};

class EOutOfMemory : public Exception {
public:
  EOutOfMemory();
};

namespace Exceptions {

// Demangled name of the type of the thrown value, for any type.
QString ClassNameOf(const std::exception_ptr& E);

// The message of the thrown value: Message() of an Exception, what() of any
// other std::exception (taken as UTF-8), empty for anything else.
QString MessageOf(const std::exception_ptr& E);

// Demangles a name from type_info.
QString Demangle(const char* MangledName);

}  // namespace Exceptions
