#pragma once
// "Video Compression": asks which codec a new AVI part is written with, when the codec
// setting says to ask every time.
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/AviWriter.h"

class QLabel;
class QListWidget;
class QPushButton;

class TCodecDialog : public QDialog {
  public:
    TCodecDialog(const std::vector<AviCodec>& offered, const std::string& partName,
                 QWidget* parent = nullptr);

    // The codec of the selected row; false when nothing is selected.
    bool Selected(int32_t& fourcc) const;

    QLabel* Prompt;
    QListWidget* List;
    QPushButton* OkButton;
    QPushButton* CancelButton;

  private:
    std::vector<AviCodec> offered_;
};

// Shows the dialog modally. True with the chosen codec in `fourcc`; false for Cancel or
// when no codec is offered. The codec chosen last is selected at the next call.
bool ChooseCodec(QWidget* parent, const std::vector<AviCodec>& offered, const std::string& partName,
                 int32_t& fourcc);
