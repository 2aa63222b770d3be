#pragma once

// Ends the desktop program in order when the session asks it to: SIGTERM (a log-out, `kill`),
// SIGINT (Ctrl+C in the terminal that started it) and SIGHUP (that terminal closed).
// The default action would kill the program at once: half-way through a save, which leaves
// the hidden temporary file behind, and without writing the settings. Instead the signal is
// passed through a pipe to the event loop, which quits as soon as it runs (it goes on running
// while a file is read or written): a file being read is left unread (the document stays as it
// was), a file being written is finished first, and the program then ends as after "終了"
// (settings written, exit status 0).
// Call once, after the QApplication exists. Returns false when the pipe cannot be made (the
// signals then keep their default action).
bool QuitOnTerminationSignals();

// Whether one of those signals has asked the program to end (work that runs beside the event
// loop does not start a new one then).
bool QuitRequested();
