// The text of the usage window.
#pragma once

#include <QString>

// The usage text, 138 lines joined by '\n', with the configured sample host, home page,
// publisher and author filled in.
QString UsageText();
// The same with the given sample host (the chosen measurement server).
QString UsageText(const QString& sampleHost);
