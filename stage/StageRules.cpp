// SPDX-License-Identifier: MIT
#include "stage/StageRules.h"

#include "net/Digits.h"

std::optional<int> StageRules::imageIndex(QStringView caption)
{
    const auto n = Digits::value(caption.trimmed());
    return n && *n < ImageCount ? n : std::nullopt;
}

bool StageRules::mayStep(Direction dir, float left)
{
    return dir == Direction::Left ? !(left < LeftLimit) : !(left > RightLimit);
}

float StageRules::stepped(Direction dir, float left)
{
    return dir == Direction::Left ? left - Step : left + Step;
}
