#include "platform/Processes.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

TEST(Processes, SnapshotHoldsThisProcessWithItsExecutable)
{
  const QString Exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
  const quint32 Pid = quint32(::getpid());
  const QList<Processes::TProcessEntry> Entries = Processes::CreateToolhelp32Snapshot();
  const auto Own = std::find_if(Entries.begin(), Entries.end(), [&](const auto& E) { return E.th32ProcessID == Pid; });
  ASSERT_NE(Own, Entries.end());
  EXPECT_EQ(Own->szExeFile, Exe);
  EXPECT_EQ(Processes::GetModuleFileNameEx(Pid), Exe);
  EXPECT_EQ(Processes::GetModuleFileNameEx(0), QString());
  // Kernel threads have no executable file, but a name.
  const auto Kernel = std::find_if(Entries.begin(), Entries.end(), [](const auto& E) { return E.th32ProcessID == 2; });
  if (Kernel != Entries.end()) {
    EXPECT_FALSE(Kernel->szExeFile.isEmpty());
  }
}
