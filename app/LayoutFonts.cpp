// SPDX-License-Identifier: MIT
#include "app/LayoutFonts.h"

#include <QFontDatabase>

namespace {

QString available(const QString &wanted, const QString &substitute)
{
    return QFontDatabase::hasFamily(wanted) ? wanted : substitute;
}

QFont makeFont(const QString &family, int pixels, bool bold, bool italic)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace

LayoutFonts::LayoutFonts()
    : m_sans(available(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"))),
      m_serif(available(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")))
{}

QFont LayoutFonts::sans(int pixels, bool bold, bool italic) const
{
    return makeFont(m_sans, pixels, bold, italic);
}

QFont LayoutFonts::serif(int pixels) const
{
    return makeFont(m_serif, pixels, false, false);
}
