#pragma once
// A private world for one test: a temporary folder, and the environment
// variables that lead the system's folders and registry files into it.
// Everything is restored when the object goes.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <optional>
#include <string>

namespace TestSupport {

class TTempEnvironment {
public:
  // Points XDG_DATA_HOME, XDG_CONFIG_HOME, CORVANE_MACHINE_REGISTRY and
  // CORVANE_COMMON_DOCUMENTS into the temporary folder. FolderName is the
  // name of the folder inside it that becomes XDG_DATA_HOME (may hold blanks).
  explicit TTempEnvironment(const QString& DataFolderName = QStringLiteral("data home"));
  ~TTempEnvironment();

  QString Root() const { return FDir.path(); }
  QString DataHome() const;      // XDG_DATA_HOME
  QString ConfigHome() const;    // XDG_CONFIG_HOME
  QString DataFolder() const;    // DataHome() + "/Corvane 1.1"

  // Sets (or, with nullopt, unsets) a variable until the object goes.
  void Set(const char* Name, const std::optional<QString>& Value);

private:
  QTemporaryDir FDir;
  QString FDataFolderName;
  std::map<std::string, std::optional<QByteArray>> FSaved;
};

// The whole content of a file, or an empty array when it cannot be read.
QByteArray ReadAll(const QString& FileName);
void WriteAll(const QString& FileName, const QByteArray& Bytes);

}  // namespace TestSupport
