#include "stage/StageRules.h"

std::optional<int> StageRules::imageIndex(QStringView caption)
{
    const QStringView digits = caption.trimmed();
    if (digits.isEmpty() || digits.size() > 2)
        return std::nullopt;
    int n = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    return n < ImageCount ? std::optional<int>(n) : std::nullopt;
}

bool StageRules::mayStep(Direction dir, float left)
{
    return dir == Direction::Left ? !(left < LeftLimit) : !(left > RightLimit);
}

float StageRules::stepped(Direction dir, float left)
{
    return dir == Direction::Left ? left - Step : left + Step;
}
