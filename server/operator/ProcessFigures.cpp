// SPDX-License-Identifier: MIT
#include "server/operator/ProcessFigures.h"

#include <QDirIterator>
#include <QFile>
#include <QList>

#include <sys/resource.h>
#include <unistd.h>

namespace ProcessFigures {

namespace {

QString procPath(qint64 pid, const char *name)
{
    return pid == 0 ? QStringLiteral("/proc/self/%1").arg(QLatin1String(name))
                    : QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name));
}

QByteArray readProc(const QString &path, qint64 most = 4096)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(most) : QByteArray();
}

double clockTick()
{
    return double(::sysconf(_SC_CLK_TCK));
}

// The fields of /proc/PID/stat from the state on (field 3 is the first):
// the command name before may hold blanks and parentheses.
QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readProc(procPath(pid, "stat"));
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

// A "Name:   123 kB" line of a /proc file, in bytes.
double kibLine(const QByteArray &text, QByteArrayView name)
{
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(name) && line.size() > name.size() && line[name.size()] == ':')
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toDouble() * 1024;
    }
    return 0;
}

// Seconds since the epoch at which the machine started.
double bootTime()
{
    const QByteArray stat = readProc(QStringLiteral("/proc/stat"));
    const qsizetype at = stat.indexOf("\nbtime ");
    if (at < 0)
        return 0;
    const qsizetype end = stat.indexOf('\n', at + 1);
    return stat.mid(at + 7, end - at - 7).toDouble();
}

} // namespace

double cpuSeconds(qint64 pid)
{
    // utime and stime are fields 14 and 15.
    const QList<QByteArray> fields = statFields(pid);
    const double tick = clockTick();
    if (fields.size() < 13 || tick <= 0)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / tick;
}

double residentBytes(qint64 pid)
{
    return kibLine(readProc(procPath(pid, "status")), "VmRSS");
}

double peakResidentBytes(qint64 pid)
{
    return kibLine(readProc(procPath(pid, "status")), "VmHWM");
}

double proportionalBytes(qint64 pid)
{
    return kibLine(readProc(procPath(pid, "smaps_rollup")), "Pss");
}

Host host()
{
    const QByteArray stat = readProc(QStringLiteral("/proc/stat"));
    if (!stat.startsWith("cpu "))
        return {};
    const QList<QByteArray> fields =
        stat.first(stat.indexOf('\n')).simplified().split(' ').mid(1, 8);
    if (fields.size() < 8)
        return {};
    double total = 0;
    for (const QByteArray &field : fields)
        total += field.toDouble();
    const double tick = clockTick();
    // Idle and waiting for input or output are the times not busy.
    return {(total - fields[3].toDouble() - fields[4].toDouble()) / tick, total / tick};
}

StageFigures::Process read()
{
    StageFigures::Process figures;
    const double tick = clockTick();
    const QList<QByteArray> fields = statFields(0);
    // From the state (field 3): utime 14, stime 15, starttime 22, rss 24.
    if (fields.size() > 21 && tick > 0) {
        figures.cpuSeconds = (fields[11].toDouble() + fields[12].toDouble()) / tick;
        figures.startTimeSeconds = bootTime() + fields[19].toDouble() / tick;
        figures.residentBytes = fields[21].toDouble() * double(::sysconf(_SC_PAGESIZE));
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
