// SPDX-License-Identifier: MIT
#include "stage/StagePeople.h"

#include "stage/StageRules.h"
#include "stage/Twips.h"

#include <QCoreApplication>
#include <cmath>

namespace StagePeople {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("StagePeople", text);
}

QString avatarName(const AvatarImage &image)
{
    const AvatarRow *row = Roster::bySprite(image.sprite().name);
    return row ? row->displayName.toString() : tr("no avatar yet");
}

} // namespace

bool onStage(const AvatarImage &image)
{
    if (!image.visible() || image.sprite().name.isEmpty())
        return false;
    const float width = float(image.sprite().size.width()) * Twips::PerPixel;
    return image.Left() + width > 0 && image.Left() < StageWidth;
}

QString describe(int index, const AvatarImage &image, std::optional<int> own,
                 const AvatarImage *ownImage)
{
    if (own == index)
        return tr("You, client %1, %2").arg(index).arg(avatarName(image));
    const QString who = tr("Client %1, %2").arg(index).arg(avatarName(image));
    if (!own || !ownImage)
        return who;
    const float apart = image.Left() - ownImage->Left();
    const int steps = int(std::lround(std::fabs(apart) / StageRules::Step));
    if (steps == 0)
        return tr("%1, where you stand").arg(who);
    const QString side = apart < 0 ? tr("left") : tr("right");
    if (steps == 1)
        return tr("%1, 1 step %2 of you").arg(who, side);
    return tr("%1, %2 steps %3 of you").arg(who).arg(steps).arg(side);
}

} // namespace StagePeople
