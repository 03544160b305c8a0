#pragma once

#include "payload/extract.h"

// Windows' path limit, the terminating NUL included.
inline constexpr int PathBufferSize = 260;

// The installation directory from the registry, normalised; empty means not installed.
extern char InstallDir[PathBufferSize];
// Where each target path is composed, rebuilt from InstallDir for every file.
extern char TargetPath[PathBufferSize];

extern const char UpdateCaption[];
extern const char NotInstalledText[];
extern const char ExecutableMissingText[];
extern const char ConfirmUpdateText[];
extern const char UpdateFinishedText[];
extern const char CannotWriteText[];
extern const char DiskFullText[];

// The whole run: lookup, check, question, plan, report. Always returns 0, the process exit code.
int RunUpdater();

// Fills InstallDir from the current user's "DataDir", or leaves it empty.
void ReadDataDir();

// Drops one trailing backslash from `install_dir`, composes the executable's
// path in `target_path` and tells whether something exists there. A path that
// would not fit counts as not existing.
bool CheckInstallation(char* target_path, char* install_dir);

// Runs UpdatePlan and returns the first result other than ExtractOk, or ExtractOk.
ExtractResult ApplyUpdate();
