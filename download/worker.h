#pragma once
#include <windows.h>

#include "download/http_downloader.h"

// Body of the progress dialog's thread: shows the dialog modally for the whole download and
// installation. Returns 0.
DWORD RunProgressDialogThread(CHttpDownloader2* downloader);

// Thread start routine for CreateThread; the parameter is the run's CHttpDownloader2.
DWORD WINAPI ProgressDialogThreadStart(LPVOID downloader);

// Downloads the plan, then installs the prerequisites it holds. 1 when every file arrived.
int DownloadAndInstall(DownloadItem* items, CHttpDownloader2& downloader, int count);

// Ends the progress dialog's modal loop (from any thread) and forgets the dialog.
void CloseProgressDialog();
