#pragma once
// The program's interface for scripts on the session bus: the name
// org.tarvivideo5x.TarviVideo5X, object /Capture, interface org.tarvivideo5x.Capture1. Each
// command goes through the panel function the window's own controls use, so the sliders
// and fields show what a script set and a recording started here is the one the capture
// button starts; a command the window would refuse is answered with the error
// org.tarvivideo5x.Capture1.Error.Refused and the reason in the window's words. The
// signals follow every recording, also those started in the window.
//
// A command is one public slot that hands its arguments to the window's code and passes
// its refusal to answer(); nothing else is needed to add one. Runs on the window thread
// (QtDBus delivers the calls there).
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

class MainWindow;

class CaptureBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarvivideo5x.Capture1")
  public:
    static constexpr const char* kServiceName = "org.tarvivideo5x.TarviVideo5X";
    static constexpr const char* kObjectPath = "/Capture";
    static constexpr const char* kRefusedError = "org.tarvivideo5x.Capture1.Error.Refused";

    // Owned by the window.
    explicit CaptureBus(MainWindow& window);
    // Puts the object, then its name, on `bus`. False when the bus is not there or the name
    // is taken (another program holds it); `why` then says which.
    bool publish(QDBusConnection bus, QString& why);

    // The interface's members keep the names scripts call them by.
    // NOLINTBEGIN(readability-identifier-naming)
  public slots:
    // camera, recording, waiting (for the wheel or sharp seeing), frames (of the running or
    // last recording), fps, lastFile, exposureUs, gain, filter (the one the files name),
    // width and height (of the frames now), sequence (its status text; "" when none runs).
    QVariantMap Status();
    void SetExposure(double milliseconds);
    void SetGain(int gain);
    void SetSubframe(int width, int height);
    // format "SER", "AVI", "FIT" or "BMP"; unit " expo(s)" or " sec(s)", as in the window.
    void StartRecording(const QString& format, int count, const QString& unit);
    void CancelRecording();
    // A target profile by its name, as Capture Files > Profiles... applies it.
    void ApplyProfile(const QString& name);
    // The filter sequence of a profile; StopSequence ends the running one, its recording
    // closed complete.
    void StartSequence(const QString& profile);
    void StopSequence();

  signals:
    // The SER file or AVI part opened (its provisional name under observation names), or a
    // series' still path.
    void RecordingStarted(const QString& file);
    // The file under its final name (a series: its first file; "" when a capture that
    // waited never started) and the "Last Capture" summary as plain text, followed by the
    // failure when the recording failed.
    void RecordingFinished(const QString& file, const QString& summary);
    // NOLINTEND(readability-identifier-naming)

  private:
    // Answers the call with the refusal when there is one.
    void answer(const QString& refusal);
    void followRecordings();
    // Once the recording's end has been told in full (summary, then failure): the signal.
    void reportEnd();

    MainWindow& window_;
    bool started_ = false;     // the capture command that waited has started its recording
    bool endPending_ = false;  // reportEnd is queued
    QString summary_;
    QString failure_;
    QString lastFile_;
};

// Publishes the window's interface on the session bus. Without a session bus, or with the
// name taken, the log says so once and the program runs on without it.
void startCaptureBus(MainWindow& window);
