#pragma once
// Where the stack renderer and the crash helper's unwinder find the debug
// information of a process's modules: on this machine only, by build ID
// and then by debug link, as the system's debuggers look. Never on a
// debug-information server: a report must not wait for the network, nor for
// the loader lock that starting a server's client takes.
//
// Debug files of the system's libraries come with their sections
// compressed, and libdw inflates every one of them, slowly, before it
// answers the first question. Such a file is handed to libdw inflated
// instead, in memory, by a faster inflater on two threads, without the
// location lists that nothing here reads.

#include "platform/Posix.h"

#include <QByteArray>

#include <elfutils/libdwfl.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace DebugInfo {

// Where the system's debug packages put their files: /usr/lib/debug
// unless set otherwise (before any session starts).
void SetDebugRoot(const QByteArray& Folder);

// libdwfl's find_debuginfo callback for sessions on a live process.
int FindOnThisMachine(Dwfl_Module* Module, void** UserData, const char* ModuleName, Dwarf_Addr Base,
                      const char* FileName, const char* DebuglinkFile, GElf_Word DebuglinkCrc,
                      char** DebugFileName);

// The callbacks of such a session.
extern const Dwfl_Callbacks ProcessCallbacks;

// A thread that runs one job at a time for whoever hands it one. Made
// ahead of need: while another thread loads a library, no thread can start.
class TWorker {
public:
  TWorker();
  ~TWorker();
  TWorker(const TWorker&) = delete;
  TWorker& operator=(const TWorker&) = delete;

  // Runs Job on the worker's thread (on the caller's, should that thread
  // not have started), after the job before it.
  void Start(std::function<void()> Job);
  // Waits until the last job has run.
  void Wait();

private:
  void Loop();

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::function<void()> FJob;
  bool FStopping = false;
  std::thread FThread;
};

// The debug file File, in memory (a memfd), with its compressed sections
// inflated and its location lists left empty, by this thread and Second
// (or a thread started for it). With Addresses (in the module's own
// address space), .debug_info may end after the last unit that holds one
// of them, where that leaves most of it uninflated: then nothing else
// can be asked of that file. File itself when no section of it is
// compressed, or when it is no ELF file of this machine that can be read
// so: libdw then reads it as it is.
Posix::TFd Inflated(Posix::TFd File, TWorker* Second = nullptr, const std::vector<std::uint64_t>& Addresses = {});

// Inflates the compressed debug files of the modules of process Pid that
// hold given return addresses, in their order, on threads of its own while
// the caller goes on: the first session to look for one of them takes it
// ready, or waits for it. Each is inflated for those addresses only (see
// Inflated), so it is for a session that renders just them. When it goes,
// it waits for its threads, and what no session took is dropped. One at a
// time.
class TInflationAhead {
public:
  explicit TInflationAhead(pid_t Pid) : FPid(Pid) {}
  ~TInflationAhead();
  TInflationAhead(const TInflationAhead&) = delete;
  TInflationAhead& operator=(const TInflationAhead&) = delete;

  void Start(std::vector<std::uintptr_t> Addresses);

private:
  pid_t FPid;
  TWorker FLead;
  TWorker FSecond;
};

}  // namespace DebugInfo
