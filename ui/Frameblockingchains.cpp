#include "ui/Frameblockingchains.h"

#include "model/Blockingchains.h"
#include "ui/Griddelegate.h"
#include "ui/Killcommands.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <vector>

namespace {

// The process's SPID is kept with its row; heads that are no session keep 0.
constexpr int SpidRole = Qt::UserRole + 1;

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString WaitingText(const TBlockingChains::TNode& node)
{
    if (node.AllWaiters == 0)
        return {};
    if (node.DirectWaiters == node.AllWaiters)
        return QString::number(node.AllWaiters);
    return QStringLiteral("%1 (%2 directly)").arg(node.AllWaiters).arg(node.DirectWaiters);
}

} // namespace

TFrameBlockingChains::TFrameBlockingChains(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("PanelBlockingChains"));
    bar->setAttribute(Qt::WA_StyledBackground);
    bar->setStyleSheet(QStringLiteral("#PanelBlockingChains { background: #808080; }"));
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 2, 0);
    Heading = new QLabel(QStringLiteral(" Blocking Chains"), bar);
    Heading->setStyleSheet(QStringLiteral("QLabel { color: #EBE9ED; font-weight: bold; }"));
    KillButton = new QPushButton(QStringLiteral("Kill Process"), bar);
    KillButton->setObjectName(QStringLiteral("ButtonKillBlocker"));
    barLayout->addWidget(Heading, 1);
    barLayout->addWidget(KillButton);
    layout->addWidget(bar);

    FTree = new QTreeWidget(this);
    FTree->setObjectName(QStringLiteral("TreeBlockingChains"));
    FTree->setHeaderLabels({QStringLiteral("SPID"), QStringLiteral("Waiting"), QStringLiteral("Wait time"),
                            QStringLiteral("Wait type"), QStringLiteral("Wait resource"),
                            QStringLiteral("Login")});
    FTree->setRootIsDecorated(true);
    FTree->setUniformRowHeights(true);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->header()->setStretchLastSection(true);
    for (const auto& [column, width] : {std::pair{0, 190}, {1, 110}, {2, 70}, {3, 110}, {4, 260}})
        FTree->setColumnWidth(column, width);
    layout->addWidget(FTree, 1);

    connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const std::int32_t spid = item ? item->data(0, SpidRole).toInt() : 0;
        KillButton->setEnabled(spid > 0);
        if (!Programmatic && spid > 0)
            Q_EMIT ProcessSelected(spid);
    });
    connect(KillButton, &QPushButton::clicked, this, [this] { KillSelectedProcess(); });
    KillButton->setEnabled(false);
}

void TFrameBlockingChains::ShowChains(const TBlockingChains& chains)
{
    const std::int32_t selected = SelectedSpid();
    Programmatic = true;
    FTree->setUpdatesEnabled(false);
    FTree->clear();
    std::vector<QTreeWidgetItem*> path; // the last item of each level
    QList<QTreeWidgetItem*> heads;
    int sessions = 0;
    for (const TBlockingChains::TNode& node : chains.Tree()) {
        path.resize(static_cast<std::size_t>(node.Depth));
        auto* item = path.empty() ? new QTreeWidgetItem : new QTreeWidgetItem(path.back());
        item->setText(0, Text(TBlockingChains::SpidText(node)));
        item->setText(1, WaitingText(node));
        if (node.Depth > 0) {
            item->setText(2, QString::number(node.WaitTime));
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
            ++sessions;
        }
        item->setText(3, Text(node.WaitType));
        item->setText(4, Text(node.WaitResource));
        item->setText(5, Text(node.Login));
        const bool process =
            node.Head != TBlockingChains::THead::Owner && node.Head != TBlockingChains::THead::NotListed;
        item->setData(0, SpidRole, process ? node.Spid : 0);
        if (node.Head == TBlockingChains::THead::LeadBlocker)
            item->setIcon(0, QIcon(TGridDelegate::LeadBlockerPicture()));
        if (path.empty())
            heads.append(item);
        path.push_back(item);
    }
    FTree->addTopLevelItems(heads);
    FTree->expandAll();
    Heading->setText(sessions == 0 ? QStringLiteral(" Blocking Chains: nobody waits")
                                   : QStringLiteral(" Blocking Chains: %1 chains, %2 sessions waiting")
                                         .arg(heads.size())
                                         .arg(sessions));
    FTree->setUpdatesEnabled(true);
    Programmatic = false;
    SelectSpid(selected);
}

void TFrameBlockingChains::SelectSpid(std::int32_t spid)
{
    Programmatic = true;
    QTreeWidgetItem* found = nullptr;
    for (QTreeWidgetItemIterator it(FTree); *it && spid > 0; ++it) {
        if ((*it)->data(0, SpidRole).toInt() == spid) {
            found = *it;
            break;
        }
    }
    FTree->setCurrentItem(found);
    KillButton->setEnabled(found != nullptr);
    Programmatic = false;
}

std::int32_t TFrameBlockingChains::SelectedSpid() const
{
    const QTreeWidgetItem* item = FTree->currentItem();
    return item ? item->data(0, SpidRole).toInt() : 0;
}

void TFrameBlockingChains::KillSelectedProcess()
{
    if (const std::int32_t spid = SelectedSpid(); spid > 0 && Slot)
        KillProcessAfterQuestion(this, Slot, spid);
}
