#include "shell/CapturePath.h"

#include <QCoreApplication>

#include "recording/RecordingController.h"

namespace {
bool isBlank(QChar c) {
    return c.unicode() <= 32;
}
}  // namespace

QString trimBlanks(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.mid(first, last - first);
}

void splitPath(const QString& path, QString& directory, QString& baseName) {
    const qsizetype slash = path.lastIndexOf(u'/');
    directory = slash < 0 ? QString() : folderOf(path.left(slash + 1));
    baseName = path.mid(slash + 1);
}

QString joinPath(const QString& directory, const QString& baseName) {
    if (directory.isEmpty() || baseName.isEmpty()) return QString();
    return directory.endsWith(u'/') ? directory + baseName : directory + u'/' + baseName;
}

QString folderOf(const QString& chosen) {
    return chosen.size() > 1 && chosen.endsWith(u'/') ? chosen.left(chosen.size() - 1) : chosen;
}

QString lastCaptureText(double durationSeconds, double framesPerSecond, const std::string& gaps) {
    // snprintf follows LC_NUMERIC, which the application takes from the user's locale.
    const QByteArray format =
        QCoreApplication::translate("CapturePanel", kLastCaptureTemplate).toUtf8();
    QString text =
        QString::fromStdString(formatText(format.constData(), durationSeconds, framesPerSecond));
    if (!gaps.empty())
        text.insert(text.lastIndexOf(QStringLiteral("</P>")),
                    QStringLiteral("<br>") + QString::fromStdString(gaps).toHtmlEscaped());
    return text;
}
