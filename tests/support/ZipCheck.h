#pragma once
// Independent readers of the archives we write: Info-ZIP's "unzip -t" and
// Python's zipfile, run as separate processes. Python also reports each
// entry's local header and whether its data is byte for byte the raw
// deflate stream zlib makes at level 6, window bits -15, memory level 8.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace TestSupport {

struct TUnzipResult {
  int ExitCode = -1;
  QString Output;
};

inline TUnzipResult UnzipTest(const QString& Archive)
{
  QProcess Unzip;
  Unzip.setProcessChannelMode(QProcess::MergedChannels);
  Unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), Archive});
  Unzip.waitForFinished(120000);
  return {Unzip.exitStatus() == QProcess::NormalExit ? Unzip.exitCode() : -1,
          QString::fromLocal8Bit(Unzip.readAll())};
}

inline const char* const PythonZipReport = R"PY(
import json, struct, sys, zipfile, zlib
path = sys.argv[1]
out = {}
try:
    with zipfile.ZipFile(path) as z, open(path, 'rb') as f:
        out['testzip'] = z.testzip()
        entries = []
        for i in z.infolist():
            data = z.read(i)
            f.seek(i.header_offset)
            (sig, version, flag, method, time, date, crc, csize, usize, nlen,
             elen) = struct.unpack('<IHHHHHIIIHH', f.read(30))
            f.read(nlen + elen)
            raw = f.read(i.compress_size)
            e = dict(name=i.filename, flag=i.flag_bits, method=i.compress_type,
                     size=i.file_size, csize=i.compress_size, crc=i.CRC,
                     date_time=list(i.date_time), extract=i.extract_version,
                     create=i.create_version, external=i.external_attr,
                     local_flag=flag, local_method=method, local_crc=crc,
                     local_csize=csize, local_usize=usize,
                     data_crc=zlib.crc32(data), data_len=len(data),
                     data=data.decode('latin-1') if len(data) <= 1 << 20 else None)
            if method == 8:
                c = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
                e['raw_is_zlib'] = raw == c.compress(data) + c.flush()
            entries.append(e)
        out['entries'] = entries
except Exception as error:
    out['error'] = repr(error)
print(json.dumps(out))
)PY";

// What Python's zipfile finds: {"testzip": null, "entries": [...]} or
// {"error": "..."}.
inline QJsonObject PythonZipInfo(const QString& Archive)
{
  QProcess Python;
  Python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(PythonZipReport), Archive});
  Python.waitForFinished(300000);
  const QByteArray Output = Python.readAllStandardOutput();
  const QJsonDocument Document = QJsonDocument::fromJson(Output);
  if (!Document.isObject())
    return QJsonObject{{QStringLiteral("error"), QString::fromLocal8Bit(Output + Python.readAllStandardError())}};
  return Document.object();
}

// Width, height and bits per pixel of a BMP file, read from its headers by
// Python; empty when it is no bitmap.
// The whole numbers a Python script prints on one line for FileName.
inline QList<int> PythonNumbers(const QString& Script, const QString& FileName)
{
  QProcess Python;
  Python.start(QStringLiteral("python3"), {QStringLiteral("-c"), Script, FileName});
  Python.waitForFinished(60000);
  QList<int> Result;
  for (const QByteArray& Part : Python.readAllStandardOutput().trimmed().split(' '))
    if (!Part.isEmpty())
      Result << Part.toInt();
  return Result;
}

inline QList<int> PythonBitmapSize(const QString& FileName)
{
  return PythonNumbers(QStringLiteral(R"PY(
import struct, sys
b = open(sys.argv[1], 'rb').read()
if b[:2] == b'BM' and struct.unpack('<I', b[2:6])[0] == len(b):
    size, width, height, planes, bits = struct.unpack('<IiiHH', b[14:30])
    print(width, abs(height), bits)
)PY"),
                       FileName);
}

}  // namespace TestSupport
