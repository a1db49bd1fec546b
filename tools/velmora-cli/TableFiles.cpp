#include "TableFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include "config/ConfigTable.h"
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

bool ReadWhole(const QString& path, QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        if (error) *error = path + QStringLiteral(": no such file");
        return false;
    }
    if (!info.isFile()) {
        if (error) *error = path + QStringLiteral(": not a regular file");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    bytes = file.readAll();
    return true;
}

}  // namespace

bool IsTableFileName(const QString& path) { return path.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive); }

bool LoadTableFile(const QString& path, ConfigTable& table, QString* error)
{
    QByteArray bytes;
    if (!ReadWhole(path, bytes, error)) return false;
    if (table.LoadTable(path)) return true;
    if (error) *error = path + QStringLiteral(": ") + WhyNotATable(bytes);
    return false;
}

bool LoadCsvFile(const QString& path, TableCodes& codes, QString* error)
{
    QByteArray bytes;
    if (!ReadWhole(path, bytes, error)) return false;
    CsvProblem problem;
    if (ReadTableCsv(bytes, codes, &problem)) return true;
    if (error) *error = QStringLiteral("%1:%2: %3").arg(path).arg(problem.line).arg(problem.message);
    return false;
}

bool LoadCodesFile(const QString& path, TableCodes& codes, QString* error)
{
    QByteArray head;
    if (QFile file(path); file.open(QIODevice::ReadOnly)) head = file.read(4);
    const bool table = head == QByteArray(TableFileFormat::Magic, sizeof TableFileFormat::Magic) || IsTableFileName(path);
    if (!table) return LoadCsvFile(path, codes, error);
    ConfigTable loaded;
    if (!LoadTableFile(path, loaded, error)) return false;
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
    return QStringLiteral("cannot write (disk full or no permission?)");
}
