#include "shell/StatusPanels.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>

StatusPanels::StatusPanels(QStatusBar* bar) {
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < kCount; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(kWidths[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        panels_[i] = panel;
    }
    // What each figure is, for the eye (a tooltip) and for assistive tools (its name).
    const char* names[kCount] = {
        QT_TRANSLATE_NOOP("StatusPanels", "Frame rate or recording progress"),
        QT_TRANSLATE_NOOP("StatusPanels", "Camera state"),
        QT_TRANSLATE_NOOP("StatusPanels", "Free memory"),
        QT_TRANSLATE_NOOP("StatusPanels", "Free space of the capture folder")};
    for (int i = 0; i < kCount; ++i) {
        const QString name = QCoreApplication::translate("StatusPanels", names[i]);
        panels_[i]->setToolTip(name);
        panels_[i]->setAccessibleName(name);
    }
}

void StatusPanels::setText(Panel panel, const QString& text) {
    panels_[panel]->setText(text);
}

QString StatusPanels::text(Panel panel) const {
    return panels_[panel]->text();
}

void StatusPanels::clear(Panel panel) {
    panels_[panel]->clear();
}

void StatusPanels::setDisk(const QString& text, bool low) {
    QLabel* panel = panels_[Disk];
    panel->setText(text);
    panel->setStyleSheet(low ? QStringLiteral("QLabel { color: white; background: #c00000; }")
                             : QString());
}
