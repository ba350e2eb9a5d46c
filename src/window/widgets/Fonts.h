// The Japanese fonts the windows name, mapped onto the fonts this system has.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

inline const QString kGothic = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString kMincho = QStringLiteral("ＭＳ Ｐ明朝");

// "ＭＳ Ｐゴシック" → IPA P Gothic, "ＭＳ Ｐ明朝" → IPA P Mincho.
void InstallFontSubstitutions();

// A font by family name and pixel height.
QFont PixelFont(const QString& family, int pixelSize, bool bold = false, bool italic = false);
