// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <optional>

// The colour chooser: set Color, call ShowColor, read Color back. Cancelling
// leaves Color as it was. Colour values hold red in the low byte, then green,
// then blue.
class CDColor
{
public:
    // Asks the user; empty when cancelled. Tests put their own in its place.
    using Chooser = std::function<std::optional<QColor>(const QColor &initial)>;

    explicit CDColor(QWidget *parent);

    quint32 Color = 0;
    void ShowColor();
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

    static quint32 toValue(const QColor &colour);
    static QColor fromValue(quint32 value);

private:
    Chooser m_chooser;
};
