#pragma once

class QKeyEvent;
class QLineEdit;

// The key filter of a numeric field (the processing panel's and the selection dialog's): a
// typed character goes through kavun::FilterNumberKey with the field's key limit; a discarded
// key beeps. Cursor keys, Delete and focus keys are left to the edit. Returns true when the key
// press is to be discarded.
bool FilterNumberKeyPress(QLineEdit* edit, QKeyEvent* event, int limit);
