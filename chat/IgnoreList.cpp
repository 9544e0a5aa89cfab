// SPDX-License-Identifier: MIT
#include "chat/IgnoreList.h"

#include <algorithm>

namespace {

constexpr QStringView NoticeSpeaker = u"Quandrel";
// The stage's own words for a leave, after the name.
constexpr QStringView LeaveWords[] = {u" left the stage", u" was removed from the stage"};

} // namespace

bool IgnoreList::ignoreNumber(int number)
{
    if (hidesNumber(number) || m_entries.size() >= MaxEntries)
        return false;
    m_entries.append(Entry{number, QString()});
    return true;
}

bool IgnoreList::ignoreName(const QString &name)
{
    if (name.isEmpty() || indexOfName(name) >= 0 || m_entries.size() >= MaxEntries)
        return false;
    m_entries.append(Entry{-1, name});
    m_heard.removeOne(name);
    return true;
}

void IgnoreList::remove(qsizetype index)
{
    if (index < 0 || index >= m_entries.size())
        return;
    if (m_entries[index].name == m_run)
        m_run.clear();
    m_entries.removeAt(index);
}

void IgnoreList::clear()
{
    m_entries.clear();
    m_run.clear();
    m_heard.clear();
}

bool IgnoreList::hidesNumber(int number) const
{
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [number](const Entry &entry) { return entry.number == number; });
}

qsizetype IgnoreList::indexOfName(QStringView name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].number < 0 && m_entries[i].name == name)
            return i;
    }
    return -1;
}

IgnoreList::Line IgnoreList::take(QStringView line)
{
    const std::optional<QString> speaker = speakerOf(line);
    if (speaker && indexOfName(*speaker) >= 0) {
        if (m_run == *speaker)
            return Line::Hidden;
        m_run = *speaker;
        return Line::Placeholder;
    }
    m_run.clear();
    if (speaker && speaker != NoticeSpeaker) {
        m_heard.removeOne(*speaker);
        m_heard.append(*speaker);
        if (m_heard.size() > MaxHeard)
            m_heard.removeFirst();
    }
    // The stage's notice of a leave ends the entry of the name it names.
    if (speaker == NoticeSpeaker) {
        const QStringView text = line.sliced(NoticeSpeaker.size() + 5).trimmed();
        for (QStringView words : LeaveWords) {
            const qsizetype at = text.indexOf(words);
            if (at > 0) {
                const qsizetype index = indexOfName(text.first(at));
                if (index >= 0)
                    m_entries.removeAt(index);
            }
        }
    }
    return Line::Shown;
}

void IgnoreList::leftStage(int number)
{
    m_entries.removeIf([number](const Entry &entry) { return entry.number == number; });
}

std::optional<QString> IgnoreList::speakerOf(QStringView line)
{
    if (!line.startsWith(u'['))
        return std::nullopt;
    const qsizetype end = line.indexOf(u"] - ");
    if (end < 2) // none, or an empty name
        return std::nullopt;
    return line.sliced(1, end - 1).toString();
}

QString IgnoreList::placeholder(const QString &name)
{
    return QStringLiteral("lines from %1 are hidden").arg(name);
}

QString IgnoreList::describe(const Entry &entry)
{
    return entry.number >= 0 ? QStringLiteral("client %1").arg(entry.number) : entry.name;
}
