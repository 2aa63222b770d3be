#pragma once

class QKeyEvent;
class QLineEdit;

// The key filter of a numeric field (the processing panel's and the selection dialog's): a
// typed character goes through kavun::FilterNumberKey with the field's key limit; a discarded
// key beeps. Cursor keys, Delete and focus keys are left to the edit, and so are Copy, Cut,
// Paste and Select All (a paste is checked by the field's validator, see below). Returns true
// when the key press is to be discarded.
bool FilterNumberKeyPress(QLineEdit* edit, QKeyEvent* event, int limit);

// Makes every edit that does not come from a typed key (a paste from the keys, the context menu
// or the middle button, an undo) keep the field to digits and at most `limit` characters: an
// edit that would leave anything else beeps and leaves the text as it was.
void KeepDigitsOnly(QLineEdit* edit, int limit);
