#include "Fontes.h"

QFont fonteJanela() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QFont fonteArialNegrito(int pixelSize) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}
