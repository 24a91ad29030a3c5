#include "shell/CameraControlsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <climits>
#include <cmath>

namespace {
// Decimals enough for the step (0.5: one, 0.01: two), at most six.
int decimalsFor(double step) {
    int decimals = 0;
    while (decimals < 6 && step > 0 && std::fabs(step - std::round(step)) > 1e-9) {
        step *= 10;
        ++decimals;
    }
    return step > 0 ? decimals : 2;
}

QString captionOf(const CameraControl& c) {
    QString text = QString::fromStdString(c.caption);
    if (!c.unit.empty() && c.kind != ControlKind::Switch && c.kind != ControlKind::Choice)
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(c.unit));
    return text;
}

bool fitsInt(const CameraControl& c) {
    return c.minimum >= INT_MIN && c.maximum <= INT_MAX;
}
}  // namespace

CameraControlsPanel::CameraControlsPanel(SetControl set, QWidget* parent)
    : QDockWidget(tr("Camera Controls"), parent), set_(std::move(set)) {
    setObjectName(QStringLiteral("CameraControls"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    body_ = new QWidget(scroll);
    form_ = new QFormLayout(body_);
    form_->setContentsMargins(4, 4, 4, 4);
    scroll->setWidget(body_);
    setWidget(scroll);
}

void CameraControlsPanel::showControls(const ControlSnapshot& snapshot, bool recording) {
    if (!built_ || snapshot.listSerial != listSerial_) {
        built_ = true;
        listSerial_ = snapshot.listSerial;
        rebuild(snapshot.controls);
    }
    for (Row& row : rows_) {
        for (const CameraControl& now : snapshot.controls)
            if (now.id == row.control.id) showValue(row, now);
        // A reading stays readable; a setting that may not change now is disabled.
        row.editor->setEnabled(row.control.readOnly || controlEnabled(row.control, recording));
    }
}

void CameraControlsPanel::rebuild(const std::vector<CameraControl>& controls) {
    while (form_->rowCount() > 0) form_->removeRow(0);
    rows_.clear();
    for (const CameraControl& c : controls) {
        if (!shownInPanel(c)) continue;
        Row row{c, makeEditor(c)};
        form_->addRow(c.kind == ControlKind::Action ? QString() : captionOf(c), row.editor);
        rows_.push_back(row);
        showValue(rows_.back(), c);
    }
}

QWidget* CameraControlsPanel::makeEditor(const CameraControl& c) {
    const auto send = [this, c](double value) {
        if (set_) set_(c, value);
    };
    const QString name = QString::fromStdString("Control_" + c.id);
    QWidget* editor = nullptr;
    if (c.readOnly) {
        editor = new QLabel(body_);
    } else if (c.kind == ControlKind::Action) {
        auto* button = new QPushButton(QString::fromStdString(c.caption), body_);
        connect(button, &QPushButton::clicked, this, [send] { send(0); });
        editor = button;
    } else if (c.kind == ControlKind::Switch) {
        auto* box = new QCheckBox(body_);
        connect(box, &QCheckBox::clicked, this, [send](bool on) { send(on ? 1 : 0); });
        editor = box;
    } else if (c.kind == ControlKind::Choice) {
        auto* combo = new QComboBox(body_);
        for (const std::string& choice : c.choices) combo->addItem(QString::fromStdString(choice));
        connect(combo, &QComboBox::activated, this, [send](int index) { send(index); });
        editor = combo;
    } else if (c.kind == ControlKind::Integer && fitsInt(c)) {
        auto* spin = new QSpinBox(body_);
        spin->setRange(static_cast<int>(c.minimum), static_cast<int>(c.maximum));
        spin->setSingleStep(std::max(1, static_cast<int>(c.step)));
        spin->setKeyboardTracking(false);  // sent once typed, not at every digit
        connect(spin, &QSpinBox::valueChanged, this, [send](int v) { send(v); });
        editor = spin;
    } else {
        auto* spin = new QDoubleSpinBox(body_);
        spin->setDecimals(c.kind == ControlKind::Integer ? 0 : decimalsFor(c.step));
        spin->setRange(c.minimum, c.maximum);
        spin->setSingleStep(c.step > 0 ? c.step : (c.maximum - c.minimum) / 100);
        spin->setKeyboardTracking(false);
        connect(spin, &QDoubleSpinBox::valueChanged, this, [send](double v) { send(v); });
        editor = spin;
    }
    editor->setObjectName(name);
    editor->setToolTip(QString::fromStdString(c.caption));
    return editor;
}

void CameraControlsPanel::showValue(Row& row, const CameraControl& now) {
    row.control.value = now.value;
    QWidget* editor = row.editor;
    // The user's typing is not overwritten by the reading that comes meanwhile.
    if (editor->hasFocus() && !row.control.readOnly) return;
    const QSignalBlocker quiet(editor);
    if (auto* label = qobject_cast<QLabel*>(editor)) {
        const std::string text = controlValueText(now);
        label->setText(text.empty() ? QStringLiteral("-") : QString::fromStdString(text));
    }
    if (!now.value) return;
    const double v = *now.value;
    if (auto* box = qobject_cast<QCheckBox*>(editor)) box->setChecked(v != 0);
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->setCurrentIndex(static_cast<int>(std::lround(v)));
    if (auto* spin = qobject_cast<QSpinBox*>(editor))
        spin->setValue(static_cast<int>(std::lround(v)));
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor)) spin->setValue(v);
}
