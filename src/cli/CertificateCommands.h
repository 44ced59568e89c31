#pragma once
// marvane-cli certificate: a result file, or every result of the local store,
// drawn as its calibration certificate or bump report (PDF, PNG or BMP).

// Runs the whole command: it needs a GUI application object (fonts, PDF), so it
// starts before the command line's own. Returns the exit status.
int RunCertificateMain(int argc, char** argv);
