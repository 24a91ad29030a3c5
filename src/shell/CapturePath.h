#pragma once
// The capture path (folder + "/" + base name, without extension) taken apart and put
// together again, and the "Last Capture" summary text. No window needed.
#include <QString>
#include <string>

// The "Last Capture" summary template; formatted with the duration in seconds and the
// frame rate.
inline constexpr char kLastCaptureTemplate[] =
    "<P align=\"center\"><FONT color=\"#FF0000\"><B>Last Capture</B></FONT><BR>"
    "<B>Duration:</B> %3.1f s<br><B>FPS:</B> %2.1f</P>";

// The text without leading and trailing blanks and control characters.
QString trimBlanks(const QString& text);

// Folder and base name of a capture path: the folder is everything before the last "/"
// (the root stays "/"), empty when there is none; the base name is what follows it.
void splitPath(const QString& path, QString& directory, QString& baseName);

// Folder + "/" + base name; empty when either part is empty.
QString joinPath(const QString& directory, const QString& baseName);

// A folder as the folder dialog returned it, without a trailing "/" (except the root).
QString folderOf(const QString& chosen);

// The summary template formatted with the duration in seconds and the frame rate, with the
// locale's decimal separator; a non-empty `gaps` text (how many gaps the time stamps show)
// follows on a line of its own.
QString lastCaptureText(double durationSeconds, double framesPerSecond,
                        const std::string& gaps = std::string());
