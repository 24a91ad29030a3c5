#pragma once
// The Camera Setup entries of the live picture and the automatic exposure, wired to what they
// change: the display stretch (the row beside the histogram and "Auto Stretch"), "Show Clipped
// Pixels", "Reticle", "Auto Exposure" and its settings dialog. Every choice is stored when it
// changes and read back at the next start.
#include <QObject>
#include <memory>

#include "session/AutoExposure.h"
#include "settings/PreviewSettings.h"

class CaptureThread;
class ExposurePanel;
class HistogramPanel;
class PictureArea;
class PreviewRenderer;
class StretchControl;
struct Frame;
struct HistogramResult;
struct MainMenus;

class PreviewControls : public QObject {
    Q_OBJECT
  public:
    struct Parts {
        const MainMenus* menus = nullptr;
        PreviewRenderer* renderer = nullptr;
        PictureArea* picture = nullptr;
        HistogramPanel* histogram = nullptr;
        StretchControl* stretch = nullptr;
        ExposurePanel* exposure = nullptr;
        CaptureThread* capture = nullptr;
    };
    PreviewControls(Parts parts, QWidget* window);
    ~PreviewControls() override;

    // Reads the stored choices into the menus, the stretch row and the automatic exposure.
    void restore();
    // Every frame: the automatic exposure measures the newest it can.
    void offer(const Frame& frame);
    AutoExposure& autoExposure() { return *autoExposure_; }
    // "Auto Exposure Settings...": the dialog; the choices are taken and stored when confirmed.
    void editAutoExposure();

  private:
    void applyStretch(int black, int white, double gamma);
    void histogramCounted(const HistogramResult& result);
    void applyAutoExposureChoices();
    void storePreview();

    Parts parts_;
    QWidget* window_;
    PreviewChoices preview_;
    AutoExposureChoices exposure_;
    std::unique_ptr<AutoExposure> autoExposure_;
};
