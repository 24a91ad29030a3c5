#include "shell/PreviewControls.h"

#include <QAction>
#include <QActionGroup>
#include <algorithm>

#include "acquisition/CaptureThread.h"
#include "display/Histogram.h"
#include "display/PictureView.h"
#include "display/PreviewRenderer.h"
#include "shell/ExposurePanel.h"
#include "shell/HistogramPanel.h"
#include "shell/Log.h"
#include "shell/MainMenus.h"
#include "shell/PictureArea.h"
#include "widgets/AutoExposureDialog.h"
#include "widgets/StretchControl.h"

PreviewControls::PreviewControls(Parts parts, QWidget* window)
    : QObject(window), parts_(parts), window_(window) {
    AutoExposure::Hooks hooks;
    hooks.current = [this] {
        return ExposureSetting{parts_.exposure->exposureUs(), parts_.exposure->gain()};
    };
    hooks.apply = [this](const ExposureSetting& s) {
        // Through the controls, so the sliders show what it set.
        parts_.exposure->setExposureUs(s.exposureUs);
        parts_.exposure->commitExposure();
        parts_.exposure->setGain(s.gain);
    };
    hooks.exposuresStarted = [this] { return parts_.capture->status().exposuresStarted; };
    hooks.recording = [this] { return parts_.capture->recording(); };
    autoExposure_ = std::make_unique<AutoExposure>(this, std::move(hooks));

    const MainMenus& m = *parts_.menus;
    connect(parts_.stretch, &StretchControl::edited, this,
            [this](int black, int white, double gamma) {
                // A stretch set by hand holds: the automatic one would undo it.
                parts_.menus->autoStretch->setChecked(false);
                applyStretch(black, white, gamma);
            });
    connect(m.autoStretch, &QAction::toggled, this, [this](bool on) {
        preview_.autoStretch = on;
        storePreview();
    });
    connect(m.showClipped, &QAction::toggled, this, [this](bool on) {
        preview_.showClipped = on;
        parts_.renderer->setShowClipped(on);
        parts_.picture->redraw();
        storePreview();
    });
    for (QAction* item : m.reticle->actions())
        connect(item, &QAction::toggled, this, [this, item](bool on) {
            if (!on) return;
            preview_.reticle = item->data().toInt();
            parts_.picture->setReticle(static_cast<Reticle>(preview_.reticle));
            storePreview();
        });
    connect(m.autoExposure, &QAction::toggled, this, [this](bool on) {
        exposure_.on = on;
        applyAutoExposureChoices();
        if (!writeAutoExposureChoices(exposure_))
            qCWarning(lcProgram, "the auto exposure choice could not be stored");
    });
    connect(m.autoExposureSettings, &QAction::triggered, this, &PreviewControls::editAutoExposure);
    parts_.histogram->setCountedHook(
        [this](const HistogramResult& result) { histogramCounted(result); });
}

PreviewControls::~PreviewControls() = default;

void PreviewControls::restore() {
    const PreviewChoices stored = readPreviewChoices();
    const MainMenus& m = *parts_.menus;
    preview_ = stored;
    parts_.stretch->setValues(stored.black, stored.white, stored.gamma);
    applyStretch(parts_.stretch->black(), parts_.stretch->white(), parts_.stretch->gamma());
    m.autoStretch->setChecked(stored.autoStretch);
    m.showClipped->setChecked(stored.showClipped);
    for (QAction* item : m.reticle->actions())
        if (item->data().toInt() == stored.reticle) item->setChecked(true);
    exposure_ = readAutoExposureChoices();
    m.autoExposure->setChecked(exposure_.on);
    applyAutoExposureChoices();
}

void PreviewControls::offer(const Frame& frame) {
    autoExposure_->offer(frame);
}

void PreviewControls::applyStretch(int black, int white, double gamma) {
    DisplayLevels levels = parts_.renderer->levels();
    levels.black = black;
    levels.white = white;
    levels.gamma = gamma;
    if (levels == parts_.renderer->levels()) return;
    parts_.renderer->setLevels(levels);
    parts_.picture->redraw();
    preview_.black = black;
    preview_.white = white;
    preview_.gamma = gamma;
    storePreview();
}

void PreviewControls::histogramCounted(const HistogramResult& result) {
    if (!parts_.menus->autoStretch->isChecked()) return;
    const DisplayLevels levels = autoStretchLevels(result.counts, parts_.renderer->levels());
    parts_.stretch->setValues(levels.black, levels.white, levels.gamma);
    applyStretch(levels.black, levels.white, levels.gamma);
}

void PreviewControls::applyAutoExposureChoices() {
    ExposureLimits limits;
    // Never past the exposure slider's range: the slider shows every length it sets.
    limits.longestUs =
        std::min<int64_t>(exposure_.longestUs, int64_t{parts_.exposure->exposureMax()} * 1000);
    limits.shortestUs = std::min<int64_t>(limits.shortestUs, limits.longestUs);
    limits.highestGain = exposure_.highestGain;
    limits.gainFirst = exposure_.gainFirst;
    autoExposure_->setLimits(limits);
    autoExposure_->setTarget(exposure_.targetPercent);
    autoExposure_->setOn(exposure_.on);
}

void PreviewControls::editAutoExposure() {
    AutoExposureDialog dialog(window_);
    dialog.setChoices(exposure_, parts_.exposure->exposureMax());
    if (dialog.exec() != QDialog::Accepted) return;
    exposure_ = dialog.choices();
    applyAutoExposureChoices();
    if (!writeAutoExposureChoices(exposure_))
        qCWarning(lcProgram, "the auto exposure settings could not be stored");
}

void PreviewControls::storePreview() {
    if (!writePreviewChoices(preview_))
        qCWarning(lcProgram, "the preview choices could not be stored");
}
