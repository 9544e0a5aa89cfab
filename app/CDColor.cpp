// SPDX-License-Identifier: MIT
#include "app/CDColor.h"

#include <QColorDialog>

CDColor::CDColor(QWidget *parent)
    : m_chooser([parent](const QColor &initial) -> std::optional<QColor> {
          const QColor chosen = QColorDialog::getColor(initial, parent, QObject::tr("Color"));
          return chosen.isValid() ? std::optional<QColor>(chosen) : std::nullopt;
      })
{}

void CDColor::ShowColor()
{
    if (const auto chosen = m_chooser(fromValue(Color)))
        Color = toValue(*chosen);
}

quint32 CDColor::toValue(const QColor &colour)
{
    return quint32(colour.red()) | quint32(colour.green()) << 8 | quint32(colour.blue()) << 16;
}

QColor CDColor::fromValue(quint32 value)
{
    return QColor(int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF));
}
