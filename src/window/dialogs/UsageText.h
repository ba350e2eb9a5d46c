// The text of the usage window.
#pragma once

#include <QString>

// The usage text, 137 lines joined by '\n', with the configured sample host, home page,
// publisher and author filled in.
QString UsageText();
