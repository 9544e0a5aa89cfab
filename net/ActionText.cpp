// SPDX-License-Identifier: MIT
#include "net/ActionText.h"

#include "net/ActionView.h"
#include "net/Digits.h"
#include "net/PositionText.h"

#include <array>

namespace {

// Where the x text of a step stands: "X" and "Y" around it, by the length of
// the command and of the x text itself.
struct XRow
{
    int xAt;
    int yAt;
    int start;
    int length;
};

constexpr std::array<XRow, 8> kRows = {{
    {19, 21, 20, 1},
    {19, 22, 20, 2},
    {19, 23, 20, 3},
    {19, 24, 20, 4},
    {20, 22, 21, 1},
    {20, 23, 21, 2},
    {20, 24, 21, 3},
    {20, 25, 21, 4},
}};

// Counted from 1, as the positions of the rows.
constexpr int NumberPosition = int(ActionView::NumberAt) + 1;
constexpr int CommandPosition = int(ActionView::CommandAt) + 1;

QChar charAt(QStringView text, int position)
{
    return position >= 1 && position <= text.size() ? text[position - 1] : QChar();
}

QStringView fieldAt(QStringView text, qsizetype position, qsizetype length)
{
    return text.mid(position - 1, length);
}

} // namespace

std::optional<int> ActionText::number(QStringView text)
{
    const QChar digit = charAt(text, NumberPosition);
    if (digit < u'0' || digit > u'9')
        return std::nullopt;
    return digit.unicode() - u'0';
}

bool ActionText::commandIs(QStringView text, QLatin1StringView word)
{
    return fieldAt(text, CommandPosition, word.size()) == word;
}

QStringView ActionText::codeAfter(QStringView text, qsizetype commandLength)
{
    return fieldAt(text, CommandPosition + commandLength, ActionView::CodeLength);
}

std::optional<float> ActionText::stepLeft(QStringView text)
{
    // Were two rows to match, the later would win.
    std::optional<float> left;
    for (const XRow &row : kRows) {
        if (charAt(text, row.xAt) == u'X' && charAt(text, row.yAt) == u'Y') {
            if (auto x = PositionText::parse(fieldAt(text, row.start, row.length)))
                left = x;
        }
    }
    return left;
}

std::optional<float> ActionText::presenceLeft(QStringView text, bool sevenLetters)
{
    // "X" stands right after the code.
    const int xAt = CommandPosition + (sevenLetters ? 7 : 6) + int(ActionView::CodeLength);
    const QStringView x = text.mid(xAt);
    const QStringView digits = x.mid(x.startsWith(u'-') ? 1 : 0);
    if (charAt(text, xAt) != u'X' || digits.size() > 4 || !Digits::value(digits))
        return std::nullopt;
    return PositionText::parse(x);
}
