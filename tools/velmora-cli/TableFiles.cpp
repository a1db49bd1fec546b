#include "TableFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include "config/ConfigTable.h"
#include "config/RegularFile.h"
#include "config/TableFile.h"

namespace {

// What the window's loader objects to, as far as the first bytes tell.
QString WhyNotATable(const QByteArray& bytes)
{
    using namespace TableFileFormat;
    if (bytes.size() < MinimumFileSize)
        return QStringLiteral("too short for a table file (%1 bytes; at least %2)").arg(bytes.size()).arg(MinimumFileSize);
    if (!bytes.startsWith(QByteArray(Magic, sizeof Magic))) return QStringLiteral("not a table file (it does not begin with KTBF)");
    const qint32 version = qFromLittleEndian<qint32>(bytes.constData() + 4);
    if (PropertiesSizeOf(version) == 0) return QStringLiteral("table file version %1 is not one the window reads (1 to 6)").arg(version);
    return QStringLiteral("damaged: a section of the table file runs past its end or does not add up");
}

// A CSV of the table is a few kilobytes; this leaves room for any spacing.
constexpr qint64 kLargestCsv = qint64(64) << 20;

// Reads a plain file whole; anything else (a FIFO, a folder) is refused
// without waiting on it.
bool ReadWhole(const QString& path, qint64 largest, QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    QString why;
    if (!info.exists()) why = QStringLiteral("no such file");
    else if (!info.isFile()) why = QStringLiteral("not a regular file");
    else if (info.size() > largest) why = QStringLiteral("too large (%1 bytes)").arg(info.size());
    else if (!ReadRegularFile(path, largest, &bytes)) why = QStringLiteral("cannot be read");
    if (why.isEmpty()) return true;
    if (error) *error = path + QStringLiteral(": ") + why;
    return false;
}

// Takes the bytes of a table file into `table`, or says what the window's
// loader objects to.
bool ParseTable(const QString& path, const QByteArray& bytes, ConfigTable& table, QString* error)
{
    if (table.LoadTableBytes(bytes)) return true;
    if (error) *error = path + QStringLiteral(": ") + WhyNotATable(bytes);
    return false;
}

bool ParseCsv(const QString& path, const QByteArray& bytes, TableCodes& codes, QString* error)
{
    CsvProblem problem;
    if (ReadTableCsv(bytes, codes, &problem)) return true;
    if (error) *error = QStringLiteral("%1:%2: %3").arg(path).arg(problem.line).arg(problem.message);
    return false;
}

}  // namespace

bool IsTableFileName(const QString& path) { return path.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive); }

bool LoadTableFile(const QString& path, ConfigTable& table, QString* error)
{
    QByteArray bytes;
    return ReadWhole(path, TableFileFormat::LargestFileSize, bytes, error) && ParseTable(path, bytes, table, error);
}

bool LoadCsvFile(const QString& path, TableCodes& codes, QString* error)
{
    QByteArray bytes;
    return ReadWhole(path, kLargestCsv, bytes, error) && ParseCsv(path, bytes, codes, error);
}

bool LoadCodesFile(const QString& path, TableCodes& codes, QString* error)
{
    QByteArray bytes;
    if (!ReadWhole(path, TableFileFormat::LargestFileSize, bytes, error)) return false;
    const bool table = bytes.startsWith(QByteArray(TableFileFormat::Magic, sizeof TableFileFormat::Magic)) || IsTableFileName(path);
    if (!table) return ParseCsv(path, bytes, codes, error);
    ConfigTable loaded;
    if (!ParseTable(path, bytes, loaded, error)) return false;
    codes = CodesOf(loaded);
    return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit()) return true;
    file.cancelWriting();
    if (error) *error = path + QStringLiteral(": ") + WhyNotWritten(path);
    return false;
}

QString WhyNotWritten(const QString& path)
{
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists()) return QStringLiteral("cannot write: no folder %1").arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isDir()) return QStringLiteral("cannot write: %1 is not a folder").arg(folder.filePath());
    if (info.isDir()) return QStringLiteral("cannot write: it is a folder");
    if (!folder.isWritable()) return QStringLiteral("cannot write: the folder is not writable");
    if (info.exists() && !info.isWritable()) return QStringLiteral("cannot write: the file is read-only");
    return QStringLiteral("cannot write (disk full, a file-size limit, or no permission?)");
}
