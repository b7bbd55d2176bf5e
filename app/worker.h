#pragma once
#include <windows.h>

#include "download/http_downloader.h"

// The download and installation of the plan, with the progress dialog on a thread of its own.

// Connects the download engine's progress report and questions to the installer's dialogs;
// without them it shows nothing, and its questions are logged and go unanswered.
void ConnectEngineToDialogs(bool progress = true, bool prompts = true);

// Body of the progress dialog's thread: shows the dialog modally for the whole download and
// installation. Returns 0.
DWORD RunProgressDialogThread(CHttpDownloader2* downloader);

// Thread start routine for CreateThread; the parameter is the run's CHttpDownloader2.
DWORD WINAPI ProgressDialogThreadStart(LPVOID downloader);

// What the prerequisites' installers said, as far as the run reads them.
struct PrerequisiteOutcome {
    bool failed = false;            // one ended with a code that is no success; the rest was not run
    bool restartRequested = false;  // one ended with 3010 or 1641
};

// Downloads the plan, then installs the prerequisites it holds, each by its role and in plan
// order (Windows Installer before .NET). 1 when every file arrived. With `outcome`, their exit
// codes are read and logged, and the first that failed ends the installations (an unattended
// run's deployment tool must learn of it); without it they are ignored, as a person's run does.
int DownloadAndInstall(DownloadItem* items, CHttpDownloader2& downloader, int count,
                       PrerequisiteOutcome* outcome = nullptr);

// Ends the progress dialog's modal loop (from any thread) and forgets the dialog.
void CloseProgressDialog();

// Frees the dialog that the progress dialog's thread showed. Only once that thread has ended:
// until then its loop, or a call from the download thread, may still use it.
void FreeProgressDialog();
