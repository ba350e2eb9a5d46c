// Quick presets and saved URLs: what goes into the URL box and what a slot is called.
#pragma once

#include <QString>

// "http://" + the configured sample host + path (a path under "/qm/").
QString SampleFileUrl(const char* path);

// Only a text whose first seven characters are exactly "http://" can be saved.
bool IsSavableUrl(const QString& url);

// A slot's caption: the URL's host part followed by the slot's accelerator suffix.
QString SavedUrlCaption(const QString& url, const QString& suffix);
