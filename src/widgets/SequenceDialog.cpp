#include "widgets/SequenceDialog.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

#include "platform/Message.h"
#include "settings/SequencePlan.h"

namespace {
enum StepColumn { StepFilter, StepCount, StepUnit, StepPause };
enum FilterColumn { FilterName, FilterExposure, FilterGain, FilterOffset };

QSpinBox* spin(int low, int high, int value, const QString& suffix = {}) {
    auto* box = new QSpinBox;
    box->setRange(low, high);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

template <typename Widget>
Widget* cell(const QTableWidget* table, int row, int column) {
    return qobject_cast<Widget*>(table->cellWidget(row, column));
}

QTableWidget* table(const QString& name, const QStringList& headers, QWidget* parent) {
    auto* t = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(headers);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    t->verticalHeader()->setVisible(true);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    return t;
}
}  // namespace

SequenceDialog::SequenceDialog(QStringList wheelFilters, QWidget* parent)
    : QDialog(parent), wheelFilters_(std::move(wheelFilters)) {
    setObjectName(QStringLiteral("SequenceDialog"));
    setWindowTitle(tr("Sequence"));
    resize(560, 480);
    auto* box = new QVBoxLayout(this);

    auto* form = new QFormLayout;
    loops_ = spin(0, 100000, 1);
    loops_->setObjectName(QStringLiteral("Loops"));
    loops_->setSpecialValueText(tr("Until stopped"));
    budget_ = spin(0, 86400, 0, tr(" s"));
    budget_->setObjectName(QStringLiteral("LoopBudget"));
    budget_->setSpecialValueText(tr("No limit"));
    budget_->setToolTip(tr("The longest time one loop may take (the planet rotates)"));
    form->addRow(tr("Loops"), loops_);
    form->addRow(tr("Longest loop"), budget_);
    box->addLayout(form);

    box->addWidget(new QLabel(tr("Steps"), this));
    steps_ =
        table(QStringLiteral("Steps"), {tr("Filter"), tr("Count"), tr("Unit"), tr("Pause")}, this);
    box->addWidget(steps_, 2);
    auto* stepButtons = new QHBoxLayout;
    const auto button = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        stepButtons->addWidget(b);
        return b;
    };
    connect(button("AddStep", tr("Add Step")), &QPushButton::clicked, this, [this] {
        addStep({wheelFilters_.isEmpty() ? QStringLiteral("L").toStdString()
                                         : wheelFilters_.front().toStdString(),
                 0, 60, 0});
    });
    connect(button("RemoveStep", tr("Remove Step")), &QPushButton::clicked, this, [this] {
        if (steps_->currentRow() >= 0) steps_->removeRow(steps_->currentRow());
    });
    connect(button("StepUp", tr("Up")), &QPushButton::clicked, this, [this] { moveStep(-1); });
    connect(button("StepDown", tr("Down")), &QPushButton::clicked, this, [this] { moveStep(1); });
    stepButtons->addStretch(1);
    box->addLayout(stepButtons);

    box->addWidget(new QLabel(tr("Filters (0: the profile's exposure and gain)"), this));
    filters_ = table(QStringLiteral("Filters"),
                     {tr("Filter"), tr("Exposure"), tr("Gain"), tr("Focus offset")}, this);
    box->addWidget(filters_, 1);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    QPushButton* dryRun = buttons->addButton(tr("Dry Run"), QDialogButtonBox::ActionRole);
    dryRun->setObjectName(QStringLiteral("DryRun"));
    connect(dryRun, &QPushButton::clicked, this,
            [this] { showMessage(QString::fromStdString(dryRunText(edited()))); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        for (const SequenceStep& step : edited().steps)
            if (step.filter.empty()) {
                showMessage(tr("Every step needs a filter."));
                return;
            }
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    box->addWidget(buttons);
}

void SequenceDialog::addStep(const SequenceStep& step) {
    const int row = steps_->rowCount();
    steps_->insertRow(row);
    auto* filter = new QComboBox;
    filter->setEditable(true);
    filter->addItems(wheelFilters_);
    filter->setCurrentText(QString::fromStdString(step.filter));
    auto* unit = new QComboBox;
    unit->addItems({tr("frames"), tr("seconds")});
    unit->setCurrentIndex(step.seconds > 0 ? 1 : 0);
    steps_->setCellWidget(row, StepFilter, filter);
    steps_->setCellWidget(row, StepCount,
                          spin(1, 10'000'000, step.seconds > 0 ? step.seconds : step.frames));
    steps_->setCellWidget(row, StepUnit, unit);
    steps_->setCellWidget(row, StepPause, spin(0, 86400, step.pauseSeconds, tr(" s")));
    steps_->setCurrentCell(row, StepFilter);
}

void SequenceDialog::moveStep(int by) {
    const int row = steps_->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= steps_->rowCount()) return;
    TargetProfile p = edited();
    std::swap(p.steps[static_cast<size_t>(row)], p.steps[static_cast<size_t>(to)]);
    display(p);
    steps_->setCurrentCell(to, StepFilter);
}

void SequenceDialog::addFilterRow(const FilterSettings& filter) {
    const int row = filters_->rowCount();
    filters_->insertRow(row);
    auto* name = new QTableWidgetItem(QString::fromStdString(filter.name));
    name->setFlags(name->flags() & ~Qt::ItemIsEditable);
    filters_->setItem(row, FilterName, name);
    auto* exposure = new QDoubleSpinBox;
    exposure->setRange(0, 10000);
    exposure->setDecimals(3);
    exposure->setSuffix(tr(" ms"));
    exposure->setValue(filter.exposureUs ? static_cast<double>(*filter.exposureUs) / 1000.0 : 0);
    filters_->setCellWidget(row, FilterExposure, exposure);
    QSpinBox* gain = spin(-1, 100, filter.gain.value_or(-1));
    gain->setSpecialValueText(tr("as the profile"));
    filters_->setCellWidget(row, FilterGain, gain);
    filters_->setCellWidget(row, FilterOffset, spin(-1'000'000, 1'000'000, filter.focusOffset));
}

void SequenceDialog::display(const TargetProfile& profile) {
    profile_ = profile;
    loops_->setValue(profile.loops);
    budget_->setValue(profile.loopBudgetSeconds);
    steps_->setRowCount(0);
    for (const SequenceStep& step : profile.steps) addStep(step);
    filters_->setRowCount(0);
    // The wheel's filters first, then those of the profile the wheel lacks.
    for (const QString& name : wheelFilters_) {
        const FilterSettings* known = profile.filter(name.toStdString());
        addFilterRow(known ? *known : FilterSettings{name.toStdString(), {}, {}, 0});
    }
    for (const FilterSettings& f : profile.filters)
        if (!wheelFilters_.contains(QString::fromStdString(f.name))) addFilterRow(f);
}

TargetProfile SequenceDialog::edited() const {
    TargetProfile p = profile_;
    p.loops = loops_->value();
    p.loopBudgetSeconds = budget_->value();
    p.steps.clear();
    for (int row = 0; row < steps_->rowCount(); ++row) {
        SequenceStep step;
        step.filter =
            cell<QComboBox>(steps_, row, StepFilter)->currentText().trimmed().toStdString();
        const int count = cell<QSpinBox>(steps_, row, StepCount)->value();
        (cell<QComboBox>(steps_, row, StepUnit)->currentIndex() == 1 ? step.seconds : step.frames) =
            count;
        step.pauseSeconds = cell<QSpinBox>(steps_, row, StepPause)->value();
        p.steps.push_back(step);
    }
    p.filters.clear();
    for (int row = 0; row < filters_->rowCount(); ++row) {
        FilterSettings f;
        f.name = filters_->item(row, FilterName)->text().toStdString();
        const double ms = cell<QDoubleSpinBox>(filters_, row, FilterExposure)->value();
        if (ms > 0) f.exposureUs = std::max<int64_t>(10, std::llround(ms * 1000.0));
        const int gain = cell<QSpinBox>(filters_, row, FilterGain)->value();
        if (gain >= 0) f.gain = gain;
        f.focusOffset = cell<QSpinBox>(filters_, row, FilterOffset)->value();
        // A filter that wants nothing of its own is not written down.
        if (f.exposureUs || f.gain || f.focusOffset != 0) p.filters.push_back(f);
    }
    return p;
}

std::optional<TargetProfile> SequenceDialog::edit(const TargetProfile& profile) {
    display(profile);
    if (exec() != QDialog::Accepted) return std::nullopt;
    return edited();
}
