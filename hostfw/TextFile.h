#pragma once
// Text files as the runtime has them: opened to rewrite (create or truncate),
// to append (the file must exist) or to read; written in whole lines ended by
// CR LF, in the ANSI code page. Writing never follows a symbolic link in the
// file's place (ELOOP). Every failed open, write or close raises
// EInOutError with the operating system's error code; read lines end at
// CR LF, LF or a lone CR.

#include "platform/Posix.h"

#include <QByteArray>
#include <QString>

namespace TextFile {

class TTextFile {
public:
  explicit TTextFile(QString FileName);
  ~TTextFile();  // closes quietly when still open
  TTextFile(const TTextFile&) = delete;
  TTextFile& operator=(const TTextFile&) = delete;

  void Rewrite();
  void Append();
  void Reset();
  bool IsOpen() const;

  void Write(const QString& Text);
  void WriteLn(const QString& Line = QString());

  bool Eof();
  QString ReadLn();

  // Writes what is still buffered and closes; raises on failure. Closing a
  // file that is not open does nothing.
  void Close();

  const QString& FileName() const { return FFileName; }

private:
  enum class TMode { Closed, Write, Read };
  void Open(int Flags, TMode Mode);
  void Flush();
  void Fill();

  QString FFileName;
  Posix::TFd FHandle;
  TMode FMode = TMode::Closed;
  QString FPending;      // text written but not yet converted and stored
  QByteArray FReadBuffer;
  qsizetype FReadPos = 0;
  bool FAtEnd = false;
};

}  // namespace TextFile
