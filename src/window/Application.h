// Program start and end.
#pragma once

#include <QStringList>
#include <functional>

class TForm1;

// Loads Qt's own Japanese texts (qtbase_ja from Qt's translations folder, Debian's
// qt6-translations-l10n), so that the file dialog and the standard buttons read Japanese like
// the rest of the program. Needs the application object; false when the file is not there,
// and Qt's dialogs then stay English.
bool InstallQtTranslations();

// Creates the windows in order: Form1 (running its FormCreate, whose exceptions are
// reported), then Form2, Form3, Form4 and Form6.
// beforeCreate, when given, sees Form1 before its FormCreate runs.
void CreateForms(const QStringList& arguments,
                 const std::function<void(TForm1*)>& beforeCreate = {});
void DestroyForms();

// Creates the windows, runs the event loop until the main window has closed, and
// returns the exit code (0).
int RunQuillmet(int argc, char* argv[]);
