#include "TableFiles.h"

#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <cstdio>
#include <new>
#include <utility>
#include <unistd.h>

#include "config/ConfigTable.h"
#include "config/FilePlace.h"
#include "config/RegularFile.h"
#include "config/TableFile.h"
#include "core/FileNames.h"

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

// Why `path` cannot be read as a file of at most `largest` bytes, in words;
// empty when it can. Anything but a plain file (a FIFO, a folder) is refused
// without being opened, so nothing waits on it.
QString WhyNotReadable(const QString& path, qint64 largest)
{
    struct stat st = {};
    if (::stat(NativeFileName(path).constData(), &st) != 0)
        return errno == ENOENT ? QStringLiteral("no such file") : QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return QStringLiteral("not a regular file");
    if (st.st_size > largest) return QStringLiteral("too large (%1 bytes; at most %2 MB are read)").arg(st.st_size).arg(largest >> 20);
    return QString();
}

bool Refuse(const QString& path, const QString& why, QString* error)
{
    if (error) *error = path + QStringLiteral(": ") + why;
    return false;
}


const QString kNoMemory = QStringLiteral("not enough memory to read it");

// Takes the bytes of a table file into `table`, or says what the window's
// loader objects to.
bool ParseTable(const QString& path, const QByteArray& bytes, ConfigTable& table, QString* error)
{
    TableFileProblem problem = TableFileProblem::None;
    if (table.LoadTableBytes(bytes, nullptr, &problem)) return true;
    if (problem == TableFileProblem::TooLargeInMemory)
        return Refuse(path, QStringLiteral("refused: its %1 MB of records would take more than %2 MB of memory as a table "
                                           "(twice the file and %3 MB; a table file the window writes takes a few kilobytes)")
                                .arg(bytes.size() >> 20).arg(TableFileFormat::LargestTableMemory(bytes.size()) >> 20)
                                .arg(TableFileFormat::SmallTableMemory >> 20),
                      error);
    if (problem == TableFileProblem::OutOfMemory) return Refuse(path, kNoMemory, error);
    return Refuse(path, WhyNotATable(bytes), error);
}

// The table file at `path`, already known to be readable, into `table`.
bool ReadTable(const QString& path, ConfigTable& table, QString* error)
{
    QByteArray bytes;
    if (!ReadRegularFile(path, TableFileFormat::LargestFileSize, &bytes)) return Refuse(path, QStringLiteral("cannot be read"), error);
    return ParseTable(path, bytes, table, error);
}

// The CSV at `path`, already known to be readable, read as it streams past.
bool ReadCsv(const QString& path, TableCodes& codes, QString* error)
{
    TableCsvReader reader;
    const bool read = ReadRegularFileInPieces(path, TableCsvLimits::LargestText,
                                              [&reader](const char* piece, qint64 size) { return reader.Feed(piece, size); });
    // A reader that refused the text stopped the reading; otherwise the file failed us.
    if (!read && reader.Problem().message.isEmpty()) return Refuse(path, QStringLiteral("cannot be read"), error);
    if (reader.Finish(codes)) return true;
    const CsvProblem& problem = reader.Problem();
    if (problem.line == 0) return Refuse(path, problem.message, error);
    return Refuse(QStringLiteral("%1:%2").arg(path).arg(problem.line), problem.message, error);
}

// Runs `read` on a file that can be read as one of at most `largest` bytes.
// A file may be as large as the window takes; running out of memory on one
// refuses it like any other file that does not load, instead of ending the program.
template <typename Read>
bool ReadIfReadable(const QString& path, qint64 largest, QString* error, Read read)
{
    const QString why = WhyNotReadable(path, largest);
    if (!why.isEmpty()) return Refuse(path, why, error);
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return Refuse(path, kNoMemory, error);
    }
}

}  // namespace

bool IsTableFileName(const QString& path) { return path.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive); }

bool LoadTableFile(const QString& path, ConfigTable& table, QString* error)
{
    return ReadIfReadable(path, TableFileFormat::LargestFileSize, error, [&] { return ReadTable(path, table, error); });
}

bool LoadCsvFile(const QString& path, TableCodes& codes, QString* error)
{
    return ReadIfReadable(path, TableCsvLimits::LargestText, error, [&] { return ReadCsv(path, codes, error); });
}

bool LoadCodesFile(const QString& path, TableCodes& codes, QString* error)
{
    const QString why = WhyNotReadable(path, TableFileFormat::LargestFileSize);
    if (!why.isEmpty()) return Refuse(path, why, error);
    // A table file by its name or by its first bytes; CSV otherwise.
    bool table = IsTableFileName(path);
    if (!table) {
        QByteArray head;
        ReadRegularFileInPieces(path, TableFileFormat::LargestFileSize, [&head](const char* piece, qint64 size) {
            head.append(piece, qMin<qint64>(size, sizeof TableFileFormat::Magic));
            return false;
        });
        table = head.startsWith(QByteArray(TableFileFormat::Magic, sizeof TableFileFormat::Magic));
    }
    if (!table) return LoadCsvFile(path, codes, error);
    ConfigTable loaded;
    if (!LoadTableFile(path, loaded, error)) return false;
    codes = CodesOf(loaded);
    return true;
}

void HoldStandardStreams()
{
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is the one that was closed.
        const int held = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

bool WriteOutput(const QString& path, const QByteArray& bytes, QString* error, bool backup)
{
    if (!path.isEmpty()) {
        QString why;
        FileWriteNotes notes;
        const bool written = WriteFileContent(path, bytes, &why, kSaveLockWaitMs, backup, &notes);
        // Said once for the whole run, however many files it writes.
        static bool saidUnlocked = false, saidNotDurable = false;
        if (notes.unlocked && !std::exchange(saidUnlocked, true))
            std::fprintf(stderr, "velmora-cli: the folder of %s takes no lock; written without it\n", Printable(path).toUtf8().constData());
        if (notes.notDurable && !std::exchange(saidNotDurable, true))
            std::fprintf(stderr, "velmora-cli: the folder of %s could not be flushed; the file may not survive a power cut\n",
                         Printable(path).toUtf8().constData());
        if (written) return true;
        return Refuse(path, QStringLiteral("cannot write: ") + why, error);
    }
    // Someone may have left our standard output non-blocking: it waits as a blocking one would.
    QString why;
    return WriteAllTo(STDOUT_FILENO, bytes, &why) || Refuse(QStringLiteral("standard output"), why, error);
}

bool CloseStandardOutput(QString* error)
{
    if (::close(STDOUT_FILENO) == 0 || errno == EBADF || errno == EINTR) return true;
    return Refuse(QStringLiteral("standard output"), QString::fromLocal8Bit(std::strerror(errno)), error);
}
