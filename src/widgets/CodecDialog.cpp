#include "widgets/CodecDialog.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {
QString rowText(const AviCodec& c) {
    QString kinds;
    if (c.grey && c.colour)
        kinds = QCoreApplication::translate("CodecDialog", "grey and colour");
    else if (c.colour)
        kinds = QCoreApplication::translate("CodecDialog", "colour");
    else
        kinds = QCoreApplication::translate("CodecDialog", "grey");
    return QString::fromStdString(c.name) + QStringLiteral("  (") + kinds + QStringLiteral(")");
}
}  // namespace

CodecDialog::CodecDialog(const std::vector<AviCodec>& offered, const std::string& partName,
                         int32_t preferred, QWidget* parent)
    : QDialog(parent), offered_(offered) {
    setWindowTitle(tr("Video Compression"));
    auto* box = new QVBoxLayout(this);
    auto* prompt = new QLabel(
        tr("Codec for %1:").arg(QFileInfo(QString::fromStdString(partName)).fileName()), this);
    box->addWidget(prompt);
    list_ = new QListWidget(this);
    int selected = offered_.empty() ? -1 : 0;
    for (size_t i = 0; i < offered_.size(); ++i) {
        list_->addItem(rowText(offered_[i]));
        if (offered_[i].fourCc == preferred) selected = static_cast<int>(i);
    }
    list_->setCurrentRow(selected);
    box->addWidget(list_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setDefault(true);
    okButton->setEnabled(!offered_.empty());
    auto* cancelButton = new QPushButton(tr("Cancel"), this);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    box->addLayout(buttons);

    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

bool CodecDialog::selected(int32_t& fourcc) const {
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(offered_.size())) return false;
    fourcc = offered_[row].fourCc;
    return true;
}

bool chooseCodec(QWidget* parent, const std::vector<AviCodec>& offered, const std::string& partName,
                 int32_t& fourcc) {
    if (offered.empty()) return false;
    CodecDialog dialog(offered, partName, fourcc, parent);
    return dialog.exec() == QDialog::Accepted && dialog.selected(fourcc);
}
