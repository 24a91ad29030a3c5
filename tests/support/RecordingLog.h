#pragma once
// Everything a recording controller says through its signals, in order, for the tests.
#include <QObject>
#include <string>
#include <utility>
#include <vector>

#include "recording/RecordingController.h"

namespace tvtest {

struct RecordingLog {
    std::vector<std::string> progress;  // every progress text, in order
    std::string memory;                 // the last memory text
    int closed = 0;
    std::vector<std::pair<double, double>> summaries;  // duration, frames per second
    std::vector<std::string> failures;

    // Listens to `rec` until either is gone (the log must outlive the controller).
    void listenTo(RecordingController& rec) {
        QObject::connect(&rec, &RecordingController::progressChanged,
                         [this](const QString& t) { progress.push_back(t.toStdString()); });
        QObject::connect(&rec, &RecordingController::memoryChanged,
                         [this](const QString& t) { memory = t.toStdString(); });
        QObject::connect(&rec, &RecordingController::recordingClosed, [this] { ++closed; });
        QObject::connect(&rec, &RecordingController::summaryReady,
                         [this](double d, double fps) { summaries.emplace_back(d, fps); });
        QObject::connect(&rec, &RecordingController::failed,
                         [this](const QString& t) { failures.push_back(t.toStdString()); });
    }
};

}  // namespace tvtest
