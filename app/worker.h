#pragma once
#include <windows.h>

#include "download/http_downloader.h"

// The download and installation of the plan, with the progress dialog on a thread of its own.

// Connects the download engine's progress report and questions to the installer's dialogs.
void ConnectEngineToDialogs();

// Body of the progress dialog's thread: shows the dialog modally for the whole download and
// installation. Returns 0.
DWORD RunProgressDialogThread(CHttpDownloader2* downloader);

// Thread start routine for CreateThread; the parameter is the run's CHttpDownloader2.
DWORD WINAPI ProgressDialogThreadStart(LPVOID downloader);

// Downloads the plan, then installs the prerequisites it holds, each by its role and in plan
// order (Windows Installer before .NET). 1 when every file arrived.
int DownloadAndInstall(DownloadItem* items, CHttpDownloader2& downloader, int count);

// Ends the progress dialog's modal loop (from any thread) and forgets the dialog.
void CloseProgressDialog();

// Frees the dialog that the progress dialog's thread showed. Only once that thread has ended:
// until then its loop, or a call from the download thread, may still use it.
void FreeProgressDialog();
