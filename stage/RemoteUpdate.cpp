// SPDX-License-Identifier: MIT
#include "stage/RemoteUpdate.h"

#include "net/Digits.h"
#include "net/PositionText.h"
#include "net/Protocol.h"
#include "stage/StageRules.h"

#include <array>

namespace {

// Where the x text of a move packet stands: "X" and "Y" around it, by the
// length of the direction word and of the x text itself.
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

QChar at(QStringView text, int position)
{
    return position >= 1 && position <= text.size() ? text[position - 1] : QChar();
}

QStringView field(QStringView text, int position, int length)
{
    return text.mid(position - 1, length);
}

} // namespace

ActionUpdate RemoteUpdate::parse(QStringView packet)
{
    ActionUpdate u;
    const QChar number = at(packet, 7);
    if (number < u'0' || number > u'9')
        return u;
    u.index = number.unicode() - u'0';

    for (const XRow &row : kRows) {
        if (at(packet, row.xAt) == u'X' && at(packet, row.yAt) == u'Y') {
            if (auto x = PositionText::parse(field(packet, row.start, row.length)))
                u.left = x;
        }
    }

    u.avatar = Roster::byCode(field(packet, 14, 5));
    if (!u.avatar)
        u.avatar = Roster::byCode(field(packet, 15, 5));
    if (!u.avatar)
        return u;

    const auto wordAt8 = [packet](QStringView word) {
        return field(packet, 8, word.size()) == word;
    };
    if (wordAt8(Protocol::GoRight))
        u.step = Direction::Right;
    else if (wordAt8(Protocol::GoLeft))
        u.step = Direction::Left;
    else if (wordAt8(Protocol::StRight) || wordAt8(Protocol::StLeft)) {
        // A presence answer: "X" and the sender's left edge run to the end,
        // a whole number of up to four digits, below zero for one who stands
        // off the stage on the left.
        const bool right = wordAt8(Protocol::StRight);
        u.stand = right ? Direction::Right : Direction::Left;
        const int xAt = right ? 20 : 19;
        const QStringView x = packet.mid(xAt);
        const QStringView digits = x.mid(x.startsWith(u'-') ? 1 : 0);
        if (at(packet, xAt) == u'X' && digits.size() <= 4 && Digits::value(digits))
            u.left = PositionText::parse(x);
    }
    return u;
}

void RemoteUpdate::apply(const ActionUpdate &update, AvatarImage &image, float groundTop)
{
    image.makeVisible();
    if (update.left)
        image.setLeft(*update.left);
    if (update.avatar && update.step) {
        image.setLeft(StageRules::stepped(*update.step, image.Left()));
        image.assignSprite(update.avatar->sprite(*update.step == Direction::Right));
    } else if (update.avatar && update.stand) {
        image.assignSprite(update.avatar->sprite(*update.stand == Direction::Right));
    }
    image.setTop(groundTop - image.Height());
}
