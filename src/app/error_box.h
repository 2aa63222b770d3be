#pragma once

#include <QString>

// The text of the application's error box: the message, with "." appended when its last
// character has a code above that of ".".
QString ErrorBoxText(const QString& message);

// The application's title: the executable's file name up to its first ".", the first letter in
// upper case and every letter after it in lower case ("kavun" -> "Kavun", "KAVUN.EXE" -> "Kavun").
QString ApplicationTitleFor(const QString& executablePath);

// ApplicationTitleFor the running executable.
QString ApplicationTitle();
