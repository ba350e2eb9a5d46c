#include "window/widgets/Fonts.h"

void InstallFontSubstitutions() {
    QFont::insertSubstitutions(
        kGothic, QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    QFont::insertSubstitutions(
        kMincho, QStringList{QStringLiteral("IPAPMincho"), QStringLiteral("IPAMincho")});
}

QFont PixelFont(const QString& family, int pixelSize, bool bold, bool italic) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}
