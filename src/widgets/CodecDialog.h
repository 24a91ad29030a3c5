#pragma once
// "Video Compression": asks which codec a new AVI part is written with, when the codec
// setting says to ask every time.
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/AviWriter.h"

class QListWidget;

class CodecDialog : public QDialog {
    Q_OBJECT
  public:
    // Offers `offered` for the part file `partName`; the row of `preferred` is selected
    // first (the first row when that codec is not offered).
    CodecDialog(const std::vector<AviCodec>& offered, const std::string& partName,
                int32_t preferred, QWidget* parent = nullptr);

    // The codec of the selected row; false when nothing is selected.
    bool selected(int32_t& fourcc) const;

  private:
    std::vector<AviCodec> offered_;
    QListWidget* list_;
};

// Shows the dialog modally with the codec `fourcc` selected first. True with the chosen
// codec in `fourcc`; false, `fourcc` unchanged, for Cancel or when no codec is offered.
// Passing the same variable each time offers the last choice first.
bool chooseCodec(QWidget* parent, const std::vector<AviCodec>& offered, const std::string& partName,
                 int32_t& fourcc);
