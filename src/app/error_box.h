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

// `text` with zero-width spaces where a long run of Latin characters without a place to break
// (a path, a long file name) may break: after each "/" and "\", and every 40 characters of a
// run that has none. A message box whose text holds a run too wide for it wraps the whole text
// at any character, before "。" and inside words too; with these places it keeps wrapping as
// Japanese text does.
QString WithLineBreakOpportunities(const QString& text);
