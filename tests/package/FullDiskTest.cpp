// A full disk: the data folder and the "bugreport" folder on small file
// systems of their own (tmpfs), mounted in a mount namespace of this test
// process alone. Picture, archive and copy are whole or absent, nothing
// broken is copied, and the user is told.

#include "package/Vesparoutil.h"

#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "platform/AnsiCodePage.h"
#include "tests/package/VesparoTestSupport.h"
#include "tests/support/ExpectedReport.h"
#include "tests/support/TempEnvironment.h"
#include "tests/support/ZipCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace VesparoTests;
using TestSupport::ReadAll;
using TestSupport::WriteAll;

namespace {

bool WriteProcFile(const char* Path, const QByteArray& Text)
{
  const int File = ::open(Path, O_WRONLY | O_CLOEXEC);
  if (File < 0)
    return false;
  const bool Written = ::write(File, Text.constData(), size_t(Text.size())) == Text.size();
  ::close(File);
  return Written;
}

// Runs before main, while the process has a single thread, as unsharing
// requires: a mount namespace of this process's own (inside a user
// namespace of its own where it is no administrator), so that what the
// tests mount is seen by nobody else and goes away with the process.
const int PrivateMountsError = [] {
  const uid_t User = ::geteuid();
  const gid_t Group = ::getegid();
  if (::unshare(CLONE_NEWNS) != 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return errno;
    WriteProcFile("/proc/self/setgroups", "deny");
    if (!WriteProcFile("/proc/self/uid_map", "0 " + QByteArray::number(User) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + QByteArray::number(Group) + " 1"))
      return errno ? errno : EPERM;
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return errno;
  return 0;
}();

constexpr qint64 Page = 4096;

class FullDisk : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_EQ(PrivateMountsError, 0) << "no mount namespace of our own: " << std::strerror(PrivateMountsError);
    AnsiCodePage::SetACP(1252);
    TestSupport::UseReportFormats();
    Vesparoutil::sJpegFileName.clear();
    Vesparoutil::sZipFileName.clear();
    Vesparoutil::sZipFileNameForMailing.clear();
  }
  void TearDown() override
  {
    for (const QByteArray& Point : Mounted)
      ::umount2(Point.constData(), MNT_DETACH);
    App().SetModalHook({});
    App().SetOnException({});
    Vesparo::bShallOpen = false;
    AnsiCodePage::SetACP(0);
    FormatSettings::Reset();
  }

  // A tmpfs of Bytes over Folder, for this process only.
  void Mount(const QString& Folder, qint64 Bytes)
  {
    QDir().mkpath(Folder);
    const QByteArray Point = QFile::encodeName(Folder);
    const QByteArray Options = "size=" + QByteArray::number(Bytes);
    ASSERT_EQ(::mount("tmpfs", Point.constData(), "tmpfs", MS_NOSUID | MS_NODEV, Options.constData()), 0)
      << std::strerror(errno);
    Mounted << Point;
  }

  // Fills the file system of Folder until Bytes are left free.
  static void LeaveFree(const QString& Folder, qint64 Bytes)
  {
    struct statvfs Status {};
    ASSERT_EQ(::statvfs(QFile::encodeName(Folder).constData(), &Status), 0);
    const qint64 Free = qint64(Status.f_bavail) * qint64(Status.f_bsize);
    ASSERT_GE(Free, Bytes);
    QFile Filler(Folder + QStringLiteral("/filler ") + QString::number(QRandomGenerator::global()->generate()));
    ASSERT_TRUE(Filler.open(QIODevice::WriteOnly));
    ASSERT_EQ(Filler.write(QByteArray(Free - Bytes, 'f')), Free - Bytes);
    Filler.close();
  }

  // Every file of a folder, hidden ones included.
  static QStringList FilesIn(const QString& Folder)
  {
    return QDir(Folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }

  TestSupport::TTempEnvironment Env;
  QList<QByteArray> Mounted;
};

QByteArray Noise(qsizetype Size)
{
  QByteArray Bytes(Size, Qt::Uninitialized);
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(Bytes.data()), Size / 4);
  return Bytes;
}

}  // namespace

TEST_F(FullDisk, ACopyThatDoesNotFitIsRemovedAndRaised)
{
  const QString Archive = Env.Root() + QStringLiteral("/archive.zip");
  WriteAll(Archive, Noise(100 * 1024));
  const QString AppFolder = Env.Root() + QStringLiteral("/app/");
  Mount(AppFolder, 256 * 1024);
  LeaveFree(AppFolder, 32 * 1024);
  EXPECT_THROW(Vesparoutil::CopybugReportToFolder(AppFolder, Archive), EInOutError);
  EXPECT_EQ(FilesIn(AppFolder + QStringLiteral("bugreport")), QStringList());
}

namespace {

// The prompt of one exception, answered with OK; just before, the data
// folder's disk is filled until Room() bytes are left.
class FullDiskPipeline : public FullDisk {
protected:
  void SetUp() override
  {
    FullDisk::SetUp();
    Component.SetMLDActive(true);
    Component.LoadedNow();
    Mount(Env.DataHome(), 1024 * 1024);
    // The copies beside this program go to a file system of our own too.
    Copies = Vesparoutil::ExtractFilePath(Vesparoutil::ApplicationExeName()) + QStringLiteral("bugreport");
    Mount(Copies, 1024 * 1024);
    App().SetModalHook([this](QDialog& Dialog) {
      Shown << TestSupport::ShownText(Dialog);
      if (Shown.size() == 1)
        LeaveFree(Env.DataHome(), Room());
      Application::PressOk(Dialog);
    });
  }

  // Pages the report's comment block will take beyond what the report
  // holds now: it names a picture and an archive of the standard stamp.
  qint64 CommentBlockPages() const
  {
    const qint64 Report = QFileInfo(Vesparoutil::FullHmldFilePath()).size();
    const qint64 Stamp = QStringLiteral("07_12_2026 03_14_56").size();
    const qint64 Folder = QFile::encodeName(Env.DataFolder()).size();
    const qint64 Block = QByteArray("\r\nComments by the User :\r\n\r\nImage path : ").size() + Folder + 1 + Stamp + 4 +
                         QByteArray("\r\n\r\nZip file path : ").size() + Folder + 10 + Stamp + 4 + 2;
    return (Report + Block + Page - 1) / Page - (Report + Page - 1) / Page;
  }

  std::function<qint64()> Room;
  QString Copies;
  QStringList Shown;
  TRecordingVesparo Component;
};

}  // namespace

TEST_F(FullDiskPipeline, NoRoomForThePictureTheReportGoesWithoutItAndTheUserIsTold)
{
  Room = [] { return 16 * Page; };
  TRaisingButton Button([] { throw std::runtime_error("on a full disk"); });
  Button.Click();

  ASSERT_EQ(Shown.size(), 2) << Shown.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(Shown[0], QStringLiteral("Details:\non a full disk"));
  EXPECT_TRUE(Shown[1].startsWith(QStringLiteral("I/O error 28:"))) << Shown[1].toStdString();
  // No cut-off picture; the archive holds the report, and its copy is whole.
  const QString Report = QFileInfo(Vesparoutil::FullHmldFilePath()).fileName();
  const QString Archive = QFileInfo(Vesparoutil::sZipFileName).fileName();
  EXPECT_EQ(FilesIn(Env.DataFolder()), (QStringList{Archive, Report}));
  const QJsonArray Entries = TestSupport::PythonZipInfo(Vesparoutil::sZipFileName)[QStringLiteral("entries")].toArray();
  ASSERT_EQ(Entries.size(), 1);
  EXPECT_EQ(Entries[0].toObject()[QStringLiteral("name")].toString(), Report);
  const QStringList Copied = FilesIn(Copies);
  ASSERT_EQ(Copied.size(), 1);
  EXPECT_EQ(ReadAll(Copies + QLatin1Char('/') + Copied[0]), ReadAll(Vesparoutil::sZipFileName));
}

TEST_F(FullDiskPipeline, NoRoomForTheArchiveNothingBrokenIsLeftOrCopiedAndTheUserIsTold)
{
  // Just the room the comment block needs: none for picture or archive.
  Room = [this] { return CommentBlockPages() * Page; };
  TRaisingButton Button([] { throw std::runtime_error("on a full disk"); });
  Button.Click();

  ASSERT_EQ(Shown.size(), 2) << Shown.join(QLatin1Char('|')).toStdString();
  EXPECT_TRUE(Shown[1].startsWith(QStringLiteral("I/O error 28:"))) << Shown[1].toStdString();
  // The report is complete, with its comment block; nothing else is there.
  const QByteArray Report = ReadAll(Vesparoutil::FullHmldFilePath());
  EXPECT_TRUE(Report.endsWith("\r\nZip file path : " + QFile::encodeName(Vesparoutil::sZipFileName) + "\r\n"))
    << Report.right(200).toStdString();
  EXPECT_EQ(FilesIn(Env.DataFolder()), QStringList{QFileInfo(Vesparoutil::FullHmldFilePath()).fileName()});
  EXPECT_EQ(FilesIn(Copies), QStringList());
}
