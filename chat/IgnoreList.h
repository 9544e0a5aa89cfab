// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// Whom this user has chosen not to see, kept on this side alone: nothing of
// it goes to the server or to anyone else. The wire ties no name to a
// number, so each entry follows what it was made from: an avatar's client
// number (its image is not shown; the entry ends once that image has left
// the stage) or a speaker's shown name (their lines are not shown, one
// placeholder standing for each run of them; the entry ends when the stage
// says that name left). A new connection starts with none.
class IgnoreList
{
public:
    struct Entry
    {
        int number = -1; // -1 for a name's entry
        QString name;    // empty for a number's entry
        friend bool operator==(const Entry &, const Entry &) = default;
    };
    enum class Line
    {
        Shown,
        Placeholder, // the first hidden line of a run: placeholder() stands for it
        Hidden
    };
    static constexpr qsizetype MaxEntries = 64;
    static constexpr qsizetype MaxHeard = 8;

    const QList<Entry> &entries() const { return m_entries; }
    // False when it is already there, or the list is full.
    bool ignoreNumber(int number);
    bool ignoreName(const QString &name);
    void remove(qsizetype index);
    void clear();
    bool hidesNumber(int number) const;
    // What becomes of a chat line as received: shown, or hidden; and a run's
    // first hidden line gives the placeholder's place.
    Line take(QStringView line);
    // The number's image has left the stage: its entry ends.
    void leftStage(int number);
    // Speakers whose lines were shown lately, the latest last: whom a user
    // may pair with an avatar, as the wire does not.
    const QStringList &heard() const { return m_heard; }

    // "[name] - text": the speaker's name; nothing for any other text.
    static std::optional<QString> speakerOf(QStringView line);
    static QString placeholder(const QString &name);
    // As a list shows an entry: "client 3" or "Gimbo 2".
    static QString describe(const Entry &entry);

private:
    qsizetype indexOfName(QStringView name) const;

    QList<Entry> m_entries;
    QString m_run; // the speaker whose run of hidden lines goes on
    QStringList m_heard;
};
