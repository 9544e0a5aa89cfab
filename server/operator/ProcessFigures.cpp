// SPDX-License-Identifier: MIT
#include "server/operator/ProcessFigures.h"

#include <QDirIterator>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <unistd.h>

namespace ProcessFigures {

namespace {

QByteArray readProc(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

// Seconds since the epoch at which the machine started.
double bootTime()
{
    const QByteArray stat = readProc("/proc/stat");
    const qsizetype at = stat.indexOf("\nbtime ");
    if (at < 0)
        return 0;
    const qsizetype end = stat.indexOf('\n', at + 1);
    return stat.mid(at + 7, end - at - 7).toDouble();
}

} // namespace

StageFigures::Process read()
{
    StageFigures::Process figures;
    const double tick = double(::sysconf(_SC_CLK_TCK));
    const QByteArray stat = readProc("/proc/self/stat");
    // The command name may hold blanks and parentheses: fields count from its last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close >= 0 && tick > 0) {
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        // From the state (field 3): utime 14, stime 15, starttime 22, rss 24.
        if (fields.size() > 21) {
            figures.cpuSeconds = (fields[11].toDouble() + fields[12].toDouble()) / tick;
            figures.startTimeSeconds = bootTime() + fields[19].toDouble() / tick;
            figures.residentBytes = fields[21].toDouble() * double(::sysconf(_SC_PAGESIZE));
        }
    }
    // Counted from /proc/self/fd, less the descriptor that reads it; a
    // crowd's thousands are counted without listing them.
    qsizetype open = 0;
    for (QDirIterator it(QStringLiteral("/proc/self/fd"),
                         QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
         it.hasNext(); it.next())
        ++open;
    figures.openDescriptors = double(std::max<qsizetype>(0, open - 1));
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0)
        figures.maxDescriptors = double(files.rlim_cur);
    return figures;
}

} // namespace ProcessFigures
