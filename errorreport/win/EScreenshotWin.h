// The screenshot of a report: the screen area of the faulting program taken
// before any report window covers it, with the focused control framed in red
// and the mouse cursor drawn in; reduced to 256 colours and saved as PNG when
// the report is sent with it.
#pragma once

#include <windows.h>

#include <string>

class TVantorModuleOptions;
struct TReportRun;

// Takes the picture. With SendFlags 0x20 the foreground window; otherwise the
// monitors under this process's visible windows (the whole desktop when there
// is none). `focus` is framed and `cursor` drawn when given. Null options: the
// calling module's. A picture taken before is released first.
void CaptureScreenshot(const TVantorModuleOptions* options, HWND focus, HCURSOR cursor);
// Whether a picture is held, and its size.
bool ScreenshotTaken();
SIZE ScreenshotSize();
// Reduces the picture to 256 colours (once) and writes it as PNG; nothing for
// an empty name or no picture. Errors are swallowed; true when the file was written.
bool SaveScreenshotPng(const std::string& fileName);
// Frees the picture and its device contexts.
void ReleaseScreenshotObjects();

// The pipeline's steps: the picture taken at the start of the report, and the
// PNG file (Screenshot.png in the temporary folder) when the screenshot goes
// with the report, then the picture freed.
void TakeReportScreenshot(TReportRun& run);
void SaveAndFreeReportScreenshot(TReportRun& run);
// Whether the last report's screenshot file was written.
bool ReportScreenshotSaved();
