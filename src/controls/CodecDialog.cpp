#include "controls/CodecDialog.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {
// Remembered across calls, so that the next part offers the same choice first.
int32_t g_lastChoice = PackFourCC('I', 'Y', 'U', 'V');

QString RowText(const AviCodec& c) {
    QString kinds;
    if (c.Grey && c.Colour)
        kinds = QStringLiteral("grey and colour");
    else if (c.Colour)
        kinds = QStringLiteral("colour");
    else
        kinds = QStringLiteral("grey");
    return QString::fromStdString(c.Name) + QStringLiteral("  (") + kinds + QStringLiteral(")");
}
}  // namespace

TCodecDialog::TCodecDialog(const std::vector<AviCodec>& offered, const std::string& partName,
                           QWidget* parent)
    : QDialog(parent), offered_(offered) {
    setWindowTitle(QStringLiteral("Video Compression"));
    auto* box = new QVBoxLayout(this);
    Prompt = new QLabel(
        QStringLiteral("Codec for %1:").arg(QFileInfo(QString::fromStdString(partName)).fileName()),
        this);
    box->addWidget(Prompt);
    List = new QListWidget(this);
    int selected = offered_.empty() ? -1 : 0;
    for (size_t i = 0; i < offered_.size(); ++i) {
        List->addItem(RowText(offered_[i]));
        if (offered_[i].FourCC == g_lastChoice) selected = static_cast<int>(i);
    }
    List->setCurrentRow(selected);
    box->addWidget(List);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    OkButton = new QPushButton(QStringLiteral("OK"), this);
    OkButton->setDefault(true);
    OkButton->setEnabled(!offered_.empty());
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    box->addLayout(buttons);

    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(List, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

bool TCodecDialog::Selected(int32_t& fourcc) const {
    const int row = List->currentRow();
    if (row < 0 || row >= static_cast<int>(offered_.size())) return false;
    fourcc = offered_[row].FourCC;
    return true;
}

bool ChooseCodec(QWidget* parent, const std::vector<AviCodec>& offered, const std::string& partName,
                 int32_t& fourcc) {
    if (offered.empty()) return false;
    TCodecDialog dialog(offered, partName, parent);
    if (dialog.exec() != QDialog::Accepted || !dialog.Selected(fourcc)) return false;
    g_lastChoice = fourcc;
    return true;
}
