#include "tests/support/TempEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>

namespace TestSupport {

TTempEnvironment::TTempEnvironment(const QString& DataFolderName)
  : FDataFolderName(DataFolderName)
{
  if (!FDir.isValid())
    ADD_FAILURE() << "cannot create a temporary folder";
  QDir(FDir.path()).mkpath(DataFolderName);
  QDir(FDir.path()).mkpath(QStringLiteral("config"));
  Set("XDG_DATA_HOME", DataHome());
  Set("XDG_CONFIG_HOME", ConfigHome());
  Set("CORVANE_MACHINE_REGISTRY", FDir.path() + QStringLiteral("/machine/system.reg"));
  Set("CORVANE_COMMON_DOCUMENTS", FDir.path() + QStringLiteral("/common documents"));
}

TTempEnvironment::~TTempEnvironment()
{
  for (const auto& [Name, Value] : FSaved) {
    if (Value)
      ::setenv(Name.c_str(), Value->constData(), 1);
    else
      ::unsetenv(Name.c_str());
  }
}

QString TTempEnvironment::DataHome() const { return FDir.path() + QLatin1Char('/') + FDataFolderName; }
QString TTempEnvironment::ConfigHome() const { return FDir.path() + QStringLiteral("/config"); }
QString TTempEnvironment::DataFolder() const { return DataHome() + QStringLiteral("/Corvane 1.1"); }

void TTempEnvironment::Set(const char* Name, const std::optional<QString>& Value)
{
  if (!FSaved.count(Name)) {
    const char* Old = std::getenv(Name);
    FSaved[Name] = Old ? std::optional<QByteArray>(QByteArray(Old)) : std::nullopt;
  }
  if (Value)
    ::setenv(Name, Value->toLocal8Bit().constData(), 1);
  else
    ::unsetenv(Name);
}

QByteArray ReadAll(const QString& FileName)
{
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly))
    return {};
  return File.readAll();
}

void WriteAll(const QString& FileName, const QByteArray& Bytes)
{
  QFile File(FileName);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate)) << FileName.toStdString();
  ASSERT_EQ(File.write(Bytes), Bytes.size());
}

}  // namespace TestSupport
