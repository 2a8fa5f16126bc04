// The stacks of this process's throws, rendered (StackTraceRender.h)
// against this process's modules.

#include "platform/StackTrace.h"
#include "platform/StackTraceRecord.h"
#include "platform/StackTraceRender.h"

#include <QException>

#include <mutex>
#include <typeinfo>

namespace StackTrace {

namespace {

using Render::RenderFrames;

// libdw sessions are not thread-safe; rendering is rare, one lock will do.
std::mutex SessionLock;
Render::TSession OwnSession(0);

const void* ObjectOf(const std::exception_ptr& Exception) { return *reinterpret_cast<void* const*>(&Exception); }

}  // namespace

bool JclLastExceptStackListToStrings(QStringList& Strings, bool IncludeModuleName, bool IncludeAddressOffset,
                                     bool IncludeStartProcLineOffset, bool IncludeVAddress)
{
  const std::lock_guard<std::mutex> Guard(SessionLock);
  return RenderFrames(OwnSession, LastExceptStackAddresses(), Strings, IncludeModuleName, IncludeAddressOffset,
                      IncludeStartProcLineOffset, IncludeVAddress);
}

std::vector<std::uintptr_t> LastExceptStackAddresses()
{
  const Detail::TRecord& Record = Detail::ThreadRecord();
  return std::vector<std::uintptr_t>(Record.Frames, Record.Frames + Record.Count);
}

bool ExceptionStackListToStrings(const std::exception_ptr& Exception, QStringList& Strings, bool IncludeModuleName,
                                 bool IncludeAddressOffset, bool IncludeStartProcLineOffset, bool IncludeVAddress)
{
  const std::vector<std::uintptr_t> Frames = ExceptionStackAddresses(Exception);
  const std::lock_guard<std::mutex> Guard(SessionLock);
  return RenderFrames(OwnSession, Frames, Strings, IncludeModuleName, IncludeAddressOffset,
                      IncludeStartProcLineOffset, IncludeVAddress);
}

std::vector<std::uintptr_t> ExceptionStackAddresses(const std::exception_ptr& Exception)
{
  if (!Exception)
    return {};
  const void* Object = ObjectOf(Exception);
  // QtConcurrent hands on what a task threw wrapped in an exception of its
  // own, thrown by Qt after the task's frames were gone.
  const std::type_info* Type = Exception.__cxa_exception_type();
  if (Type && *Type == typeid(QUnhandledException)) {
    const std::exception_ptr Wrapped = static_cast<const QUnhandledException*>(Object)->exception();
    if (Wrapped && Wrapped != Exception) {
      std::vector<std::uintptr_t> Inner = ExceptionStackAddresses(Wrapped);
      if (!Inner.empty())
        return Inner;
    }
  }
  if (const Detail::TExceptionRecord* Record = Detail::RecordOf(Object)) {
    const std::size_t Count = Record->Count.load(std::memory_order_acquire);
    if (Count != Detail::FillingCount && Count > 0)
      return std::vector<std::uintptr_t>(Record->Frames, Record->Frames + Count);
  }
  // No record of its own (more exceptions alive than records): the thread's
  // last raise, if it was this object's.
  const Detail::TThreadRecord& Thread = Detail::ThreadRecord();
  if (Thread.Object == Object)
    return std::vector<std::uintptr_t>(Thread.Frames, Thread.Frames + Thread.Count);
  return {};
}

void ResetDebugInfoCache()
{
  const std::lock_guard<std::mutex> Guard(SessionLock);
  OwnSession.Close();
}

}  // namespace StackTrace
