// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QString>

// The layout's fonts are Windows ones. "Times New Roman" has a metric twin in
// Liberation Serif, taken at the same size. "MS Sans Serif" is a bitmap font
// that sets narrower than any outline sans at its nominal size: Liberation
// Sans at about 11/12 of it (10 px for 8.25 pt) fits every caption into its
// control as laid out. Sizes are in pixels so that the fixed layout holds at
// any DPI. The families are resolved once, so that no lookup of a missing
// family runs per control.
class LayoutFonts
{
public:
    LayoutFonts();

    QFont sans(int pixels, bool bold = false, bool italic = false) const;
    QFont serif(int pixels) const;

private:
    QString m_sans;
    QString m_serif;
};
