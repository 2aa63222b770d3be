#pragma once

class QCoreApplication;

// Makes Qt's own texts Japanese: the buttons of message boxes (はい, いいえ, OK), the file
// dialogs, the context menus of text fields. The interface is Japanese by design, so this
// happens whatever the system's locale: Qt's Japanese translation (qtbase_ja.qm from Qt's
// translations folder) is installed on `app` and Japanese becomes the default locale.
// Returns false when the translation is not there; Qt's English texts then remain and the
// program works all the same.
bool InstallJapaneseQtTranslation(QCoreApplication* app);
