#include "shell/SeeingPanel.h"

#include <QLabel>
#include <QVBoxLayout>

#include "analysis/SeeingHistory.h"
#include "display/SeeingGraph.h"
#include "platform/Clock.h"

namespace {
constexpr uint32_t kShowIntervalMs = 200;
}  // namespace

SeeingPanel::SeeingPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("SeeingPanel"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 1, 2, 1);
    column->setSpacing(1);
    auto* title = new QLabel(tr("Seeing"), this);
    column->addWidget(title);
    graph_ = new SeeingGraph(this);
    graph_->setObjectName(QStringLiteral("SeeingGraph"));
    graph_->setToolTip(
        tr("The sharpness of the picture over the last 30 s (higher is sharper); "
           "dashed: the best of the last minute"));
    column->addWidget(graph_, 0, Qt::AlignHCenter);
    figures_ = new QLabel(this);
    figures_->setObjectName(QStringLiteral("SeeingFigures"));
    figures_->setToolTip(tr("The seeing figure now and the best of the last minute"));
    figures_->setAccessibleName(tr("Seeing figures"));
    figures_->setText(tr("Now ---, best ---"));
    column->addWidget(figures_);
}

void SeeingPanel::showHistory(const SeeingHistory& history) {
    const uint32_t now = monotonicMs();
    if (now - shownAtMs_ < kShowIntervalMs && !history.samples().empty()) return;
    shownAtMs_ = now;
    graph_->setHistory(history);
    const auto current = history.current();
    const auto best = history.best();
    figures_->setText(current && best
                          ? tr("Now %1, best %2").arg(*current, 0, 'f', 0).arg(*best, 0, 'f', 0)
                          : tr("Now ---, best ---"));
}

QString SeeingPanel::figuresText() const {
    return figures_->text();
}
