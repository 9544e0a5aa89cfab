// SPDX-License-Identifier: MIT
#include "stage/RemoteUpdate.h"

#include "net/ActionText.h"
#include "net/Protocol.h"
#include "stage/StageRules.h"

ActionUpdate RemoteUpdate::parse(QStringView packet)
{
    using namespace ActionText;
    ActionUpdate u;
    const auto n = number(packet);
    if (!n)
        return u;
    u.index = *n;
    u.left = stepLeft(packet);

    u.avatar = Roster::byCode(codeAfter(packet, Protocol::GoLeft.size()));
    if (!u.avatar)
        u.avatar = Roster::byCode(codeAfter(packet, Protocol::GoRight.size()));
    if (!u.avatar)
        return u;

    if (commandIs(packet, Protocol::GoRight)) {
        u.step = Direction::Right;
    } else if (commandIs(packet, Protocol::GoLeft)) {
        u.step = Direction::Left;
    } else if (commandIs(packet, Protocol::StRight) || commandIs(packet, Protocol::StLeft)) {
        const bool right = commandIs(packet, Protocol::StRight);
        u.stand = right ? Direction::Right : Direction::Left;
        if (auto x = presenceLeft(packet, right))
            u.left = x;
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
